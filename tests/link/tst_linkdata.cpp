// The measurement store, the identification parser and the ring reader; no thread started.

#include "link/Identification.h"
#include "link/RingReader.h"
#include "link/StreamMessage.h"
#include "link/TcpClient.h"
#include "link/SampleStore.h"

#include <QtTest>

#include <algorithm>
#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

class LinkDataTest : public QObject
{
    Q_OBJECT

private slots:
    void storeKeepsAtMostCapacityMinusOneAndDropsTheOldest()
    {
        auto sample = [](int n) { StreamSample s; s.x1 = int16_t(n); return s; };
        SampleStore store(1040);
        StreamSample out = sample(-7);
        QVERIFY(!store.pop(out));
        QVERIFY(out.x1 == -7); // untouched
        for (int i = 0; i < 5000; ++i)
            store.push(sample(i));
        // Count, dropped in this stream, dropped in all.
        auto state = [&store] { return QString("%1 %2 %3").arg(store.count()).arg(store.dropped()).arg(store.droppedTotal()); };
        QCOMPARE(state(), QString("1039 3961 3961"));
        QVERIFY(store.pop(out));
        QVERIFY(out.x1 == 5000 - 1039); // the oldest were dropped
        store.clear(); // a new stream counts afresh; the total stays
        QCOMPARE(state(), QString("0 0 3961"));
        store.push(sample(1));
        QVERIFY(store.pop(out));
        QVERIFY(out.x1 == 1);
        QVERIFY(!store.pop(out));
        QCOMPARE(state(), QString("0 0 3961"));
    }

    // Each status bit of a stream message on its own: byte 2 bits 3-6 stabilisation and active,
    // bit 7 end of stream; byte 3 bits 0-1 multiplex, bit 2 ignore mark; no other bit means
    // anything, and below firmware 11 (no flags) only the end and ignore marks do.
    void streamFlagsOneBitAtATime()
    {
        // Bits 0-15 (byte 2, then byte 3): the index into `seen` below, -1 for none.
        const int meaning[16] = {-1, -1, -1, 0, 1, 2, 3, 6, 4, 5, 7, -1, -1, -1, -1, -1};
        for (int bit = 0; bit < 16; ++bit) {
            char message[25] = {0, ';'};
            message[24] = ';';
            message[2 + bit / 8] = char(1 << (bit % 8));
            for (bool withFlags : {true, false}) {
                StreamSample s;
                StreamMessage::decode(message, withFlags, 0, s);
                const QVector<bool> seen{s.stabOn1, s.stabOn2, s.active1, s.active2, s.multiplex1, s.multiplex2,
                                         StreamMessage::isLastMessage(message), StreamMessage::isIgnoredSample(message)};
                QVector<bool> expected(8, false);
                if (meaning[bit] >= 0 && (withFlags || meaning[bit] >= 6))
                    expected[meaning[bit]] = true;
                QVERIFY2(seen == expected, qPrintable(QString("byte %1 bit %2, flags %3").arg(2 + bit / 8).arg(bit % 8).arg(withFlags)));
            }
        }
    }

    // The batch forms leave the store as push and pop one by one would.
    void batchPushAndTakeMatchSingleOperations()
    {
        // Pushed one by one first, then in one batch, taken at most this many at a time:
        // into an empty store, wrapping the ring, longer than the store, exactly its capacity.
        for (auto [already, batch, takeLimit] : std::initializer_list<std::tuple<int, int, int>>{
                 {0, 10, 501}, {1000, 100, 7}, {5, 3000, 501}, {0, 1040, 1040}}) {
            SampleStore single(1040), batched(1040);
            std::vector<StreamSample> samples(size_t(already + batch));
            for (int i = 0; i < already + batch; ++i) {
                samples[size_t(i)].x1 = int16_t(i);
                single.push(samples[size_t(i)]);
                if (i < already)
                    batched.push(samples[size_t(i)]);
            }
            batched.pushSamples(samples.data() + already, batch);
            // A batch counts what it drops like single pushes.
            QCOMPARE(std::make_pair(batched.count(), batched.dropped()), std::make_pair(single.count(), single.dropped()));
            std::vector<StreamSample> out(size_t(takeLimit) + 1);
            QList<int> taken, expected;
            for (int n; (n = batched.takeSamples(out.data(), takeLimit)) > 0;) {
                QVERIFY(n <= takeLimit);
                for (int i = 0; i < n; ++i)
                    taken << out[size_t(i)].x1;
            }
            for (StreamSample s; single.pop(s);)
                expected << s.x1;
            QCOMPARE(taken, expected);
            QCOMPARE(taken.size(), std::min(already + batch, 1039));
        }
    }

    // Reply, identity (empty: invalid) and what applying it sets on a link.
    void ringReceivesWhatRecvWould()
    {
        // Bytes, nothing waiting, and the peer gone, over more rounds than the ring has
        // entries; a full queue refuses the next receive.
        RingReader ring;
        if (!ring.open(4))
            QSKIP("io_uring is not offered here; the stream pump reads socket by socket");
        int pairs[3][2];
        for (auto &pair : pairs)
            QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        ::close(pairs[2][1]);
        char buffers[3][16];
        std::vector<RingReader::Result> results;
        for (int round = 0; round < 6; ++round) {
            const QByteArray sent = QByteArray::number(round * 1000 + 7);
            QCOMPARE(::write(pairs[0][1], sent.data(), size_t(sent.size())), ssize_t(sent.size()));
            for (uint64_t tag : {2, 0, 1})
                QVERIFY(ring.queue(pairs[tag][0], buffers[tag], sizeof buffers[tag], tag));
            QVERIFY(ring.submit(results));
            std::sort(results.begin(), results.end(), [](auto a, auto b) { return a.tag < b.tag; });
            QCOMPARE(results.size(), size_t(3));
            QCOMPARE(results[0].value, long(sent.size()));
            QCOMPARE(QByteArray(buffers[0], sent.size()), sent);
            QCOMPARE(results[1].value, long(-EAGAIN));
            QCOMPARE(results[2].value, 0L);
        }
        for (unsigned i = 0; i < ring.capacity(); ++i)
            QVERIFY(ring.queue(pairs[1][0], buffers[1], sizeof buffers[1], i));
        QVERIFY(!ring.queue(pairs[1][0], buffers[1], sizeof buffers[1], 99));
        QVERIFY(ring.submit(results));
        QCOMPARE(results.size(), size_t(ring.capacity()));
        for (int fd : {pairs[0][0], pairs[0][1], pairs[1][0], pairs[1][1], pairs[2][0]})
            ::close(fd);
    }

    void identificationIsParsed()
    {
        const QByteArray head("\x00;", 2);
        for (auto [reply, id, variantM, version, trigger] :
             std::initializer_list<std::tuple<QByteArray, QString, bool, int, bool>>{
                 {head + "ORX-BS2-A-V31-7;", "ORX-BS2-A-V31-7", false, 31, true},
                 {head + "ORX-BS2-N-VM12-X;", "ORX-BS2-N-VM12-X", true, 12, false},
                 {head + "ORX-BS2-A;", "ORX-BS2-A", false, 1, true},
                 {head + "ORX-BS2-A-V31;", "ORX-BS2-A-V31", false, 31, true}, // no "-" after the number
                 {head + "ORX", "OR", false, 1, false},
                 {head + "ABC-BS2-A-V31-1;", "", false, 1, false},
                 {QByteArray("\x01;ORX-V31-;", 11), "", false, 1, false},
                 {QByteArray(), "", false, 1, false}}) {
            const ControllerIdentity identity = parseIdentification(reply);
            TcpClient probe;
            QCOMPARE(applyIdentification(probe, identity), !id.isEmpty());
            const auto applied = std::make_tuple(identity.valid, identity.controllerId, probe.isVariantM(),
                                                 probe.firmwareVersion(), probe.triggerCapable());
            QCOMPARE(applied, std::make_tuple(!id.isEmpty(), id, variantM, version, trigger));
        }
    }
};

QTEST_GUILESS_MAIN(LinkDataTest)
#include "tst_linkdata.moc"
