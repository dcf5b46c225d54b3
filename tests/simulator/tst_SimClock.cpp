// The simulated controller on a clock moved by the test: no real time is involved,
// so the checks of what it streams, and when, are exact and hold on any machine.

#include "SimClient.h"
#include "SimController.h"
#include "With.h"

#include <QtTest>

#include <utility>

namespace {

quint32 sequence(const QByteArray &m) { return u16(m, 20) << 16 | u16(m, 22); }
bool isMessage(const QByteArray &m) { return m.size() == 25 && m[0] == 0 && m[1] == ';' && m[24] == ';'; }

// One controller whose output is collected; the test owns the clock.
struct Bench
{
    SimController c;
    QByteArray out;
    qint64 now = 1000;

    explicit Bench(const SimConfig &config) : c(0, config) { c.setOutput([this](const char *d, int n) { out.append(d, n); }); }
    QByteArray take() { return std::exchange(out, QByteArray()); }
    QByteArray send(const QByteArray &cmd)
    {
        c.receive(cmd.constData(), cmd.size(), now);
        c.tick(now);
        return take();
    }
    // Moves the clock 1 ms at a time to `until`, ticking at each step.
    void runTo(qint64 until) { while (now < until) c.tick(++now); }
    QList<QByteArray> messages(const QByteArray &data) const
    {
        QList<QByteArray> list;
        for (int i = 0; i + 25 <= data.size(); i += 25)
            list << data.mid(i, 25);
        return list;
    }
};

SimConfig config(int firmware, bool variantM = false, int ignorePercent = 0)
{
    return with<SimConfig>([&](auto &c) {
        c.firmware = firmware, c.variantM = variantM, c.ignorePercent = ignorePercent, c.bench = true;
    });
}

} // namespace

class SimClockTest : public QObject
{
    Q_OBJECT

private slots:
    // The start reply is message 0; message k follows k / rate seconds later,
    // neither earlier nor later, with consecutive sequence numbers.
    void streamKeepsItsRate()
    {
        for (int rate : {1, 7, 100, 333, 500}) {
            Bench b(config(31));
            const qint64 start = b.now;
            QByteArray data = b.send(startCmd("SLS", rate));
            QCOMPARE(data.size(), 25);
            for (qint64 end = start + 2100; b.now < end;) {
                b.runTo(b.now + 1);
                data += b.take();
                const qint64 due = 1 + (b.now - start) * rate / 1000;
                if (data.size() != due * 25)
                    QFAIL(qPrintable(QString("%1 Hz: %2 bytes after %3 ms, %4 messages due").arg(rate).arg(data.size()).arg(b.now - start).arg(due)));
            }
            const QList<QByteArray> all = b.messages(data);
            for (int i = 0; i < all.size(); ++i) { // no end mark while running
                QVERIFY(isMessage(all[i]));
                QCOMPARE(sequence(all[i]), quint32(i));
                QVERIFY(!(all[i][2] & 0x80));
            }
            QCOMPARE(b.c.counters().streamMessagesSent, qint64(all.size()));
        }
    }

    // The beam values of message k are those of simulated time k / rate: a
    // controller ticked every millisecond and one ticked once send the same bytes.
    void streamValuesDoNotDependOnTheTicks()
    {
        Bench fine{SimConfig()}, coarse{SimConfig()};
        const QByteArray first = fine.send(startCmd("SLS", 500));
        QCOMPARE(coarse.send(startCmd("SLS", 500)), first);
        fine.runTo(fine.now + 1000);
        coarse.now += 1000;
        coarse.c.tick(coarse.now);
        const QByteArray a = fine.take();
        QVERIFY(a.size() == 500 * 25);
        QVERIFY(a == coarse.take());
        // The beam moves: not every message carries the same position.
        QSet<quint32> positions;
        for (const QByteArray &m : fine.messages(a))
            positions << u16(m, 4);
        QVERIFY(positions.size() > 10);
    }

    // Firmware 11 and later end a stream with a marked message and the acknowledge, firmware 10
    // only acknowledges. Only stream messages of variant M carry the ignore mark, no S1S reply.
    void stopAndEndOfStream()
    {
        // Firmware, variant M, per cent of stream messages marked as ignored.
        for (auto [firmware, variantM, ignorePercent] : std::initializer_list<std::tuple<int, bool, int>>{
                   {10, false, 100}, {10, true, 100}, {11, false, 100}, {31, true, 0}, {31, true, 100}}) {
            Bench b(config(firmware, variantM, ignorePercent));
            const bool flags = firmware >= 11, ignored = variantM && ignorePercent == 100;
            const QByteArray sample = b.send("S1S;");
            QVERIFY(isMessage(sample));
            QVERIFY(!(sample[3] & 0x04));
            QCOMPARE(b.send(startCmd(variantM ? "SGS" : "SLS", 100)).size(), 25);
            b.runTo(b.now + 105);
            const QList<QByteArray> stream = b.messages(b.take());
            QCOMPARE(stream.size(), 10);
            for (const QByteArray &m : stream)
                QCOMPARE(bool(m[3] & 0x04), ignored);

            const QByteArray stop = b.send("CLS;");
            QCOMPARE(stop.mid(flags ? 25 : 0), ok);
            if (flags) {
                const QByteArray last = stop.left(25);
                QVERIFY(isMessage(last));
                QVERIFY((last[2] & 0x80));
                QCOMPARE(bool(last[3] & 0x04), ignored);
                QCOMPARE(sequence(last), sequence(stream.last()) + 1);
            }
            QVERIFY(!b.c.isStreaming());
            b.runTo(b.now + 500);
            QCOMPARE(b.take(), QByteArray());
            // A second stop is only acknowledged.
            QCOMPARE(b.send("CLS;"), ok);
            QCOMPARE(b.send("S1S;")[3] & 0x04, 0);
        }
    }

    // While streaming, anything but exactly "CLS;" is swallowed without a reply
    // and the stream goes on undisturbed; a stop split over two reads still counts.
    void onlyAWellFormedStopEndsAStream()
    {
        Bench b(config(31));
        QCOMPARE(b.send(startCmd("SLS", 100)).size(), 25);
        QByteArray data;
        for (const QByteArray &almost : {raw("CLS\x01;"), raw("CLSX"), raw("CL;"), raw("cls;"), raw("GSF;")}) {
            data += b.send(almost);
            b.runTo(b.now + 50);
            data += b.take();
            QVERIFY2(b.c.isStreaming(), almost.constData());
        }
        b.runTo(b.now + 300);
        data += b.take();
        const QList<QByteArray> messages = b.messages(data);
        QCOMPARE(data.size(), 55 * 25);
        for (int i = 0; i < messages.size(); ++i) {
            QVERIFY(isMessage(messages[i]));
            QCOMPARE(sequence(messages[i]), quint32(i + 1));
        }
        QCOMPARE(b.send("CL"), QByteArray());
        QCOMPARE(b.send("S;").right(2), ok);
        QVERIFY(!b.c.isStreaming());
    }

    // Every bit of the status byte, and those a stream message carries: stabilisation and
    // active in byte 2, multiplex in byte 3 (firmware 11 and later; nothing before).
    void statusBits()
    {
        // Commands sent, then the GSF flags byte and byte 3 of a stream message.
        for (auto [commands, status, streamMode] : std::initializer_list<std::tuple<QList<QByteArray>, int, int>>{
                 {{}, 0x60, 0}, // fresh: both stages active
                 {{raw("SPF\x01\x01\x2C;")}, 0x61, 0}, // P-factor from software
                 {{raw("SPF\x01\x01\x2C;"), raw("SPF\x01\x00\x00;")}, 0x60, 0}, // external P-factor again
                 {{raw("SAI\x01x\x00\x10;")}, 0x62, 0}, {{raw("SAI\x02y\x00\x10;")}, 0x64, 0}, // adjust-in
                 {{raw("SEA\x01;")}, 0x68, 0}, {{raw("SEA\x02;")}, 0x70, 0}, // stabilisation
                 {{raw("SEA\x01;"), raw("SEA\x02;"), raw("CEA\x01;")}, 0x70, 0},
                 {{raw("SDS\x01\x27\x10;")}, 0x40, 0}, {{raw("SDS\x02\x27\x10;")}, 0x20, 0}, // a stage inactive
                 {{raw("SMD\x01;")}, 0x60, 0x01}, {{raw("SMD\x02;")}, 0x60, 0x02}, // multiplex
                 {{raw("SMD\x01;"), raw("SMD\x02;"), raw("CMD\x01;")}, 0x60, 0x02}}) {
            for (int firmware : {31, 10}) {
                Bench b(config(firmware));
                // Firmware before 31 refuses the detector sensitivity: such rows show nothing more.
                bool refused = false;
                for (const QByteArray &cmd : commands) {
                    const bool sensitivity = cmd.startsWith("SDS");
                    QCOMPARE(b.send(cmd), firmware < 31 && sensitivity ? QByteArray("\x01;", 2) : ok);
                    refused = refused || (firmware < 31 && sensitivity);
                }
                if (refused)
                    continue;
                const QByteArray gsf = b.send("GSF;");
                QCOMPARE(gsf.size() == 4 ? int(quint8(gsf[2])) : -1, status);
                QCOMPARE(b.send(startCmd("SLS", 500)).size(), 25);
                b.runTo(b.now + 10);
                for (const QByteArray &m : b.messages(b.take())) {
                    QCOMPARE(int(quint8(m[2])), firmware >= 11 ? (status & 0x78) : 0);
                    QCOMPARE(int(quint8(m[3])), firmware >= 11 ? streamMode : 0);
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(SimClockTest)
#include "tst_SimClock.moc"
