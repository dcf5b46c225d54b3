// The measurement store and the identification parser; no thread started.

#include "link/Identification.h"
#include "link/TcpClient.h"
#include "link/measureStore.h"

#include <QtTest>

class LinkDataTest : public QObject
{
    Q_OBJECT

private slots:
    void storeKeepsAtMostCapacityMinusOneAndDropsTheOldest()
    {
        auto sample = [](int n) { StreamSample s; s.x1 = int16_t(n); return s; };
        measureStore store(1040);
        StreamSample out = sample(-7);
        QVERIFY(!store.pop(out));
        QCOMPARE(int(out.x1), -7); // untouched
        for (int i = 0; i < 1040; ++i)
            store.push(sample(i));
        QCOMPARE(store.count(), 1039);
        QVERIFY(store.pop(out));
        QCOMPARE(int(out.x1), 1); // sample 0 was dropped
        for (int i = 1040; i < 5000; ++i)
            store.push(sample(i));
        QCOMPARE(store.count(), 1039);
        int expected = 5000 - 1039;
        while (store.pop(out))
            QCOMPARE(int(out.x1), int(int16_t(expected++)));
        QCOMPARE(expected, 5000);
    }

    void batchPushAndTakeMatchSingleOperations_data()
    {
        QTest::addColumn<int>("already");  // samples pushed one by one first
        QTest::addColumn<int>("batch");    // then one pushSamples of this many
        QTest::addColumn<int>("takeLimit"); // takeSamples calls of at most this many
        QTest::newRow("small batch into empty") << 0 << 10 << 501;
        QTest::newRow("batch wraps the ring") << 1000 << 100 << 7;
        QTest::newRow("batch longer than the store") << 5 << 3000 << 501;
        QTest::newRow("exactly capacity") << 0 << 1040 << 1040;
    }
    // The batch forms leave the store as push and pop one by one would.
    void batchPushAndTakeMatchSingleOperations()
    {
        QFETCH(int, already);
        QFETCH(int, batch);
        QFETCH(int, takeLimit);
        auto sample = [](int n) { StreamSample s; s.x1 = int16_t(n); s.y1 = int16_t(n >> 16); return s; };
        measureStore single(1040), batched(1040);
        std::vector<StreamSample> samples;
        for (int i = 0; i < already + batch; ++i)
            samples.push_back(sample(i));
        for (int i = 0; i < already; ++i) {
            single.push(samples[size_t(i)]);
            batched.push(samples[size_t(i)]);
        }
        for (int i = already; i < already + batch; ++i)
            single.push(samples[size_t(i)]);
        batched.pushSamples(samples.data() + already, batch);
        QCOMPARE(batched.count(), single.count());
        std::vector<StreamSample> out(size_t(takeLimit) + 1);
        StreamSample expected;
        int taken = 0;
        for (int n; (n = batched.takeSamples(out.data(), takeLimit)) > 0; taken += n) {
            QVERIFY(n <= takeLimit);
            for (int i = 0; i < n; ++i) {
                QVERIFY(single.pop(expected));
                QCOMPARE(std::make_pair(out[size_t(i)].x1, out[size_t(i)].y1), std::make_pair(expected.x1, expected.y1));
            }
        }
        QVERIFY(!single.pop(expected));
        QCOMPARE(taken, std::min(already + batch, 1039));
    }

    // Reply, identity (empty: invalid) and what applying it sets on a link.
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
