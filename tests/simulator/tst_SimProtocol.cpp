#include "SimClient.h"
#include "Simulator.h"
#include "With.h"

#include <QtTest>

namespace {
const QByteArray refused = raw("\x01;");

// Splits data into 25-byte messages up to the first misframed one.
QList<QByteArray> frames(const QByteArray &data, QByteArray *rest)
{
    QList<QByteArray> out;
    int i = 0;
    for (; data.size() - i >= 25 && data[i] == 0 && data[i + 1] == ';' && data[i + 24] == ';'; i += 25)
        out << data.mid(i, 25);
    *rest = data.mid(i);
    return out;
}

// A simulator and a client connected to its first controller.
struct Rig
{
    Simulator sim;
    SimClient c;

    bool start(const SimConfig &config = {}, const SimFaults &faults = {})
    {
        sim.setDefaultConfig(config);
        sim.setDefaultFaults(faults);
        return sim.start() && c.connectTo(sim.port(0));
    }
    // Everything received from a stream started, then stopped after ms.
    QByteArray stream(const QByteArray &start, int ms)
    {
        QByteArray all = c.exchange(start, 25);
        all += c.exchange({}, INT_MAX, ms);
        return all + c.exchange("CLS;", INT_MAX, 300);
    }
};
}

class SimProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void commandReplies()
    {
        // Command, reply length, error code (0: accepted).
        const struct { QByteArray cmd; int length; int error; } rows[] = {
            {"GID;", 50, 0}, {"GSF;", 4, 0}, {"GAS;", 5, 0}, {"GIN\x02;", 5, 0}, {"GAI\x01y;", 5, 0},
            {"SAI\x01x\xFF\x38;", 2, 0}, {"GPF\x01;", 5, 0}, {raw("SPF\x02\x01\x00;"), 2, 0},
            {"GDS\x02;", 5, 0}, {"SDS\x01\x03\xE8;", 2, 0}, {"SSH\x03;", 2, 0}, {"CSH\x01;", 2, 0},
            {"STF\x03;", 5, 0}, {"CTF\x03;", 2, 0}, {"SDA\x02y\x13\x88;", 2, 0}, {"SEA\x01;", 2, 0},
            {"CEA\x02;", 2, 0}, {"SMD\x02;", 2, 0}, {"CMD\x02;", 2, 0}, {"SSE\x01;", 2, 0}, {"GCA;", 11, 0},
            {"GER;", 7, 0}, {raw("RFR\x00\x00\xFF;"), 258, 0}, {"SBR\x09;", 2, 0}, {"S1S;", 25, 0},
            {"SLA" + QByteArray("beam_A").leftJustified(25, ' ') + ';', 2, 0}, {"CLS;", 2, 0},
            {"XYZ;", 2, 1}, {"GIN\x01X", 2, 2}, {"SEA\x05;", 2, 3}, {"SEA\x03;", 2, 3}, {"GAI\x01z;", 2, 3},
            {startCmd("SLS", 501), 2, 3}, {startCmd("SLS", 0), 2, 3}, {"SBR\x05;", 2, 3}, {startCmd("SGS", 100), 2, 4},
        };
        for (const auto &[cmd, length, errorCode] : rows) {
            Rig rig;
            QVERIFY(rig.start());
            const QByteArray r = rig.c.exchange(cmd, length);
            const bool nothingMore = rig.c.exchange({}, 1, 50).isEmpty(); // nothing beyond the reply
            const QByteArray where = cmd.toHex(' ') + " -> " + r.toHex(' ');
            QVERIFY2(r.size() == length, where.constData());
            QVERIFY2(r.left(2) == (errorCode ? refused : ok), where.constData());
            QVERIFY2(r.endsWith(';'), where.constData());
            QVERIFY2(nothingMore, where.constData());
            QVERIFY2(rig.sim.commandLog(0) == QList<QByteArray>{cmd}, where.constData());
            if (errorCode != 0)
                QCOMPARE(rig.c.exchange("GER;", 7).mid(2, 4), cmd.left(3) + char(errorCode));
        }
    }

    void sessionInputAndReplacement()
    {
        Rig rig;
        QVERIFY(rig.start());
        const QByteArray label = QByteArray("lab_3").leftJustified(25, ' ');
        const QList<QPair<QByteArray, QByteArray>> steps = {
            {"SAI\x02y\xFF\x38;", ok}, {"GAI\x02y;", raw("\x00;\xFF\x38;")},
            {"SPF\x01\x02\x58;", ok}, {"GPF\x01;", raw("\x00;\x02\x58;")},
            {"SDS\x02\x07\xD0;", ok}, {"GDS\x02;", raw("\x00;\x07\xD0;")},
            {"SEA\x02;", ok}, {"GAS;", raw("\x00;\x01\x01;")},
            // A sensitivity above the intensity makes the stage inactive.
            {"SDS\x01\x27\x10;", ok}, {"GAS;", raw("\x00;\x00\x01;")},
            {"SLA" + label + ';', ok}, {"SDA\x01x\x07\xD0;", ok},
        };
        for (const auto &step : steps)
            QCOMPARE(rig.c.exchange(step.first, step.second.size()), step.second);
        QCOMPARE(rig.c.exchange(raw("RFR\x00\x00\xFF;"), 258).mid(2, 25), label);
        QCOMPARE(u16(rig.c.exchange("S1S;", 25), 16), 2000u); // the driven actuator's range

        // One command split over two writes, then several in one write; repeated when a stall
        // past the 200 ms partial-command time-out between the writes got the first part refused.
        QByteArray r;
        for (int attempt = 0; attempt < 3 && !r.startsWith(QByteArray("\x00;ORX", 5)); ++attempt) {
            rig.c.exchange({}, INT_MAX, attempt ? 500 : 0); // what a failed attempt left
            rig.c.exchange("GI", INT_MAX, 50);
            r = rig.c.exchange("D;GSF;GIN\x01;XX;GER;", 50 + 4 + 5 + 2 + 7);
        }
        QVERIFY(r.startsWith(QByteArray("\x00;ORX", 5)));
        QCOMPARE(r.mid(50, 2) + r.mid(54, 2) + r.mid(59), ok + ok + QByteArray("\x01;\x00;XX;\x01;", 9));
        // A command that never completes is refused after a while.
        QCOMPARE(rig.c.exchange("GAI\x01", 2), refused);

        // A new client replaces the old one, whose stream ends with it.
        QCOMPARE(rig.c.exchange(startCmd("SLS", 100), 25).size(), 25);
        SimClient second;
        QVERIFY(second.connectTo(rig.sim.port(0)));
        QVERIFY(rig.c.socket.state() == QAbstractSocket::UnconnectedState || rig.c.socket.waitForDisconnected(3000));
        QVERIFY(!rig.sim.isStreaming(0));
        QCOMPARE(second.exchange("GSF;", 4).size(), 4);
    }

    // A 500 Hz bench-mode stream with 7 garbage bytes after every third message.
    void streamAndStop()
    {
        for (int firmware : {31, 10}) {
            Rig rig;
            QVERIFY(rig.start(with<SimConfig>([&](auto &c) { c.firmware = firmware, c.bench = true; }),
                              with<SimFaults>([](auto &f) { f.garbageEvery = 3, f.garbageBytes = 7; })));
            QByteArray rest = rig.stream(startCmd("SLS", 500), 1000);
            // Garbage never holds 0x00, so framing stops at each run of it.
            QList<QByteArray> messages, part;
            while ((part = frames(rest, &rest)).size() == 3 && rest.size() > 2) {
                messages += part;
                QVERIFY(!rest.left(7).contains('\0'));
                rest.remove(0, 7);
            }
            messages += part;
            QVERIFY(part.size() <= 3);
            QCOMPARE(rest, ok);
            const int n = messages.size();
            QCOMPARE(rig.sim.counters(0).streamMessagesSent, qint64(n));
            // Garbage follows no reply: neither the start reply nor the marked last message.
            QCOMPARE(rig.sim.counters(0).garbageBytesSent, qint64((firmware >= 11 ? n - 1 : n) / 3 * 7));
            for (int i = 0; i < n; ++i) // bench sequence number in the stage-2 positions
                QCOMPARE(u16(messages[i], 12) << 16 | u16(messages[i], 10), quint32(i));
        }
    }

    void variantMAndTriggerMode()
    {
        Rig rig;
        QVERIFY(rig.start(with<SimConfig>([](auto &c) { c.variantM = true, c.pulseRate = 100; })));
        const QByteArray id = rig.c.exchange("GID;", 50);
        QVERIFY2(id.contains("-VM31-"), id.constData() + 2);
        QVERIFY2(id[10] == 'A', id.constData() + 2);
        QVERIFY2(id.count(';') == 2, id.constData() + 2);
        QByteArray rest;
        const QList<QByteArray> messages = frames(rig.stream(startCmd("SGS", 500), 300), &rest);
        QVERIFY(rest == ok);
        QVERIFY(!messages.isEmpty());

        // Trigger mode: an acknowledge, then one message per pulse.
        const QByteArray data = rig.stream(raw("SPS\x00\x00;"), 300);
        const QList<QByteArray> pulses = frames(data.mid(2), &rest);
        QVERIFY(data.startsWith(ok));
        QVERIFY(rest == ok);
        QVERIFY(!pulses.isEmpty());
        QCOMPARE(qint64(messages.size() + pulses.size()), rig.sim.counters(0).streamMessagesSent);
    }
};

QTEST_GUILESS_MAIN(SimProtocolTest)
#include "tst_SimProtocol.moc"
