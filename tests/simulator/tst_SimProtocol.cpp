#include "SimClient.h"
#include "Simulator.h"

#include <QElapsedTimer>
#include <QtTest>

#include <chrono>

namespace {
QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b += char(v);
    return b;
}

int u16(const QByteArray &b, int i)
{
    return (quint8(b[i]) << 8) | quint8(b[i + 1]);
}

QByteArray startCmd(const char *code, int rate)
{
    return QByteArray(code) + bytes({0, 0, rate >> 8, rate & 0xFF, ';'});
}

// Splits a received stream into 25-byte messages; whatever is left over
// (the stop acknowledge) is returned in rest. Fails on a misframed message.
QList<QByteArray> frames(const QByteArray &data, QByteArray *rest)
{
    QList<QByteArray> out;
    int i = 0;
    while (data.size() - i >= 25) {
        const QByteArray m = data.mid(i, 25);
        if (m[0] != 0 || m[1] != ';' || m[24] != ';')
            break;
        out << m;
        i += 25;
    }
    *rest = data.mid(i);
    return out;
}
}

class SimProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void identification_data();
    void identification();
    void commandReplies_data();
    void commandReplies();
    void parametersRoundTrip();
    void splitAndBatchedCommands();
    void streamCountMatchesRate();
    void stopBehaviourDependsOnFirmware_data();
    void stopBehaviourDependsOnFirmware();
    void variantMAndTriggerMode();
    void garbageBetweenMessagesHasNoZeroBytes();
    void benchModeSequenceIsConsecutive();
    void replyFaults();
    void connectionHandling();
};

void SimProtocolTest::identification_data()
{
    QTest::addColumn<int>("firmware");
    QTest::addColumn<bool>("variantM");
    QTest::addColumn<bool>("trigger");
    QTest::addColumn<QString>("idText");
    QTest::addColumn<QByteArray>("tag");
    QTest::addColumn<char>("byte10");
    QTest::newRow("default") << 31 << false << true << QString() << QByteArray("-V31-") << 'A';
    QTest::newRow("variant M") << 12 << true << true << QString() << QByteArray("-VM12-") << 'A';
    QTest::newRow("no trigger, own id") << 9 << false << false << QString("LAB7") << QByteArray("-V9-") << 'N';
}

void SimProtocolTest::identification()
{
    QFETCH(int, firmware);
    QFETCH(bool, variantM);
    QFETCH(bool, trigger);
    QFETCH(QString, idText);
    QFETCH(QByteArray, tag);
    QFETCH(char, byte10);

    Simulator sim;
    SimConfig c;
    c.firmware = firmware;
    c.variantM = variantM;
    c.triggerCapable = trigger;
    c.idText = idText;
    sim.setDefaultConfig(c);
    QVERIFY(sim.start(0, 2));

    SimClient a, b;
    QVERIFY(a.connectTo(sim.port(0)));
    QVERIFY(b.connectTo(sim.port(1)));
    const QByteArray r = a.exchange("GID;", 50);
    QCOMPARE(r.size(), 50);
    QVERIFY(r.startsWith(QByteArray("\x00;ORX", 5)));
    QCOMPARE(r[49], ';');
    QCOMPARE(r.count(';'), 2);
    QVERIFY2(r.contains(tag), r.constData() + 2);
    QCOMPARE(r[10], byte10);
    if (!idText.isEmpty())
        QVERIFY(r.contains(idText.toLatin1()));
    // Each controller of a simulator identifies itself differently.
    const QByteArray other = b.exchange("GID;", 50);
    QCOMPARE(other.size(), 50);
    if (idText.isEmpty())
        QVERIFY(other != r);
    QCOMPARE(r.mid(2, 47), sim.identification(0));
}

void SimProtocolTest::commandReplies_data()
{
    QTest::addColumn<QByteArray>("cmd");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("errorCode");   // 0 = accepted

    const QByteArray label = QByteArray("beam_A").leftJustified(25, ' ');
    QTest::newRow("GSF") << QByteArray("GSF;") << 4 << 0;
    QTest::newRow("GAS") << QByteArray("GAS;") << 5 << 0;
    QTest::newRow("GIN") << QByteArray("GIN\x02;") << 5 << 0;
    QTest::newRow("GAI") << QByteArray("GAI\x01y;") << 5 << 0;
    QTest::newRow("SAI") << QByteArray("SAI\x01x") + bytes({0xFF, 0x38, ';'}) << 2 << 0;
    QTest::newRow("GPF") << QByteArray("GPF\x01;") << 5 << 0;
    QTest::newRow("SPF") << QByteArray("SPF\x02") + bytes({0x01, 0x00, ';'}) << 2 << 0;
    QTest::newRow("GDS") << QByteArray("GDS\x02;") << 5 << 0;
    QTest::newRow("SDS") << QByteArray("SDS\x01") + bytes({0x03, 0xE8, ';'}) << 2 << 0;
    QTest::newRow("SSH both") << QByteArray("SSH\x03;") << 2 << 0;
    QTest::newRow("CSH") << QByteArray("CSH\x01;") << 2 << 0;
    QTest::newRow("STF") << QByteArray("STF\x03;") << 5 << 0;
    QTest::newRow("CTF") << QByteArray("CTF\x03;") << 2 << 0;
    QTest::newRow("SDA") << QByteArray("SDA\x02y") + bytes({0x13, 0x88, ';'}) << 2 << 0;
    QTest::newRow("SEA") << QByteArray("SEA\x01;") << 2 << 0;
    QTest::newRow("CEA") << QByteArray("CEA\x02;") << 2 << 0;
    QTest::newRow("SMD") << QByteArray("SMD\x02;") << 2 << 0;
    QTest::newRow("CMD") << QByteArray("CMD\x02;") << 2 << 0;
    QTest::newRow("SSE") << QByteArray("SSE\x01;") << 2 << 0;
    QTest::newRow("GCA") << QByteArray("GCA;") << 11 << 0;
    QTest::newRow("GER") << QByteArray("GER;") << 7 << 0;
    QTest::newRow("RFR") << QByteArray("RFR") + bytes({0, 0, 0xFF, ';'}) << 258 << 0;
    QTest::newRow("SBR") << QByteArray("SBR\x09;") << 2 << 0;
    QTest::newRow("SLA") << QByteArray("SLA") + label + ';' << 2 << 0;
    QTest::newRow("S1S") << QByteArray("S1S;") << 25 << 0;
    QTest::newRow("CLS idle") << QByteArray("CLS;") << 2 << 0;
    QTest::newRow("unknown") << QByteArray("XYZ;") << 2 << 1;
    QTest::newRow("missing ;") << QByteArray("GIN\x01X") << 2 << 2;
    QTest::newRow("bad stage") << QByteArray("SEA\x05;") << 2 << 3;
    QTest::newRow("both not allowed") << QByteArray("SEA\x03;") << 2 << 3;
    QTest::newRow("bad axis") << QByteArray("GAI\x01z;") << 2 << 3;
    QTest::newRow("rate 501") << startCmd("SLS", 501) << 2 << 3;
    QTest::newRow("rate 0") << startCmd("SLS", 0) << 2 << 3;
    QTest::newRow("bad baud code") << QByteArray("SBR\x05;") << 2 << 3;
    QTest::newRow("SGS not variant M") << startCmd("SGS", 100) << 2 << 4;
}

void SimProtocolTest::commandReplies()
{
    QFETCH(QByteArray, cmd);
    QFETCH(int, length);
    QFETCH(int, errorCode);

    Simulator sim;
    QVERIFY(sim.start());
    SimClient c;
    QVERIFY(c.connectTo(sim.port(0)));
    const QByteArray r = c.exchange(cmd, length);
    QCOMPARE(r.size(), length);
    QCOMPARE(int(quint8(r[0])), errorCode == 0 ? 0 : 1);
    QCOMPARE(r[1], ';');
    QCOMPARE(r[length - 1], ';');
    // Nothing beyond the reply.
    QVERIFY(c.readFor(50).isEmpty());

    const QByteArray ger = c.exchange("GER;", 7);
    QCOMPARE(ger.size(), 7);
    if (errorCode != 0) {
        QCOMPARE(ger.mid(2, 3), cmd.left(3));
        QCOMPARE(int(ger[5]), errorCode);
    }
    QCOMPARE(sim.commandLog(0).value(0), cmd);
    QCOMPARE(sim.counters(0).commandsReceived, qint64(2));
}

void SimProtocolTest::parametersRoundTrip()
{
    Simulator sim;
    QVERIFY(sim.start());
    SimClient c;
    QVERIFY(c.connectTo(sim.port(0)));

    QCOMPARE(c.exchange(QByteArray("SAI\x02y") + bytes({0xFF, 0x38, ';'}), 2), bytes({0, ';'}));
    QCOMPARE(c.exchange("GAI\x02y;", 5), bytes({0, ';', 0xFF, 0x38, ';'}));
    QCOMPARE(c.exchange(QByteArray("SPF\x01") + bytes({0x02, 0x58, ';'}), 2), bytes({0, ';'}));
    QCOMPARE(c.exchange("GPF\x01;", 5), bytes({0, ';', 0x02, 0x58, ';'}));
    QCOMPARE(c.exchange(QByteArray("SDS\x02") + bytes({0x07, 0xD0, ';'}), 2), bytes({0, ';'}));
    QCOMPARE(c.exchange("GDS\x02;", 5), bytes({0, ';', 0x07, 0xD0, ';'}));

    // Stabilisation of stage 2 plus the software P-factor and adjust-in flags.
    QCOMPARE(c.exchange("SEA\x02;", 2), bytes({0, ';'}));
    const QByteArray flags = c.exchange("GSF;", 4);
    QCOMPARE(int(quint8(flags[2])), 0x01 | 0x04 | 0x10 | 0x20 | 0x40);
    QCOMPARE(c.exchange("GAS;", 5), bytes({0, ';', 1, 1, ';'}));
    // A sensitivity above the intensity makes the stage inactive.
    QCOMPARE(c.exchange(QByteArray("SDS\x01") + bytes({0x27, 0x10, ';'}), 2), bytes({0, ';'}));
    QCOMPARE(c.exchange("GAS;", 5), bytes({0, ';', 0, 1, ';'}));

    const int intensity = u16(c.exchange("GIN\x01;", 5), 2);
    QVERIFY2(intensity > 3500 && intensity < 4500, QByteArray::number(intensity));
    // Driving an actuator shows up in the reported actuator range.
    QCOMPARE(c.exchange(QByteArray("SDA\x01x") + bytes({0x07, 0xD0, ';'}), 2), bytes({0, ';'}));
    QCOMPARE(u16(c.exchange("S1S;", 25), 16), 2000);

    const QByteArray label = QByteArray("lab_3").leftJustified(25, ' ');
    QCOMPARE(c.exchange("SLA" + label + ';', 2), bytes({0, ';'}));
    QCOMPARE(sim.label(0), label);
    QCOMPARE(c.exchange(QByteArray("RFR") + bytes({0, 0, 0xFF, ';'}), 258).mid(2, 25), label);
}

void SimProtocolTest::splitAndBatchedCommands()
{
    Simulator sim;
    QVERIFY(sim.start());
    SimClient c;
    QVERIFY(c.connectTo(sim.port(0)));

    // One command split over two writes, then several in one write.
    c.socket.write("GI");
    c.socket.flush();
    QVERIFY(c.readFor(50).isEmpty());
    const QByteArray r = c.exchange("D;GSF;GIN\x01;XX;GER;", 50 + 4 + 5 + 2 + 7);
    QCOMPARE(r.size(), 68);
    QVERIFY(r.startsWith(QByteArray("\x00;ORX", 5)));
    QCOMPARE(r.mid(50, 2), bytes({0, ';'}));
    QCOMPARE(r.mid(54, 2), bytes({0, ';'}));
    QCOMPARE(r.mid(59, 2), bytes({1, ';'}));
    QCOMPARE(r.mid(61, 5), QByteArray("\x00;XX;", 5));
    QCOMPARE(sim.commandLog(0), (QList<QByteArray>{"GID;", "GSF;", "GIN\x01;", "XX;", "GER;"}));

    // A command that never completes is refused after a while.
    const QByteArray refused = c.exchange("GAI\x01", 2);
    QCOMPARE(refused, bytes({1, ';'}));
}

void SimProtocolTest::streamCountMatchesRate()
{
    Simulator sim;
    QVERIFY(sim.start());
    SimClient c;
    QVERIFY(c.connectTo(sim.port(0)));

    QElapsedTimer outer;
    outer.start();
    const QByteArray first = c.exchange(startCmd("SLS", 500), 25);
    QCOMPARE(first.size(), 25);
    QElapsedTimer inner;
    inner.start();
    QByteArray data = first + c.readFor(1000);
    const qint64 innerMs = inner.elapsed();
    c.socket.write("CLS;");
    data += c.readFor(300);
    const qint64 outerMs = outer.elapsed();

    QByteArray rest;
    const QList<QByteArray> messages = frames(data, &rest);
    QCOMPARE(rest, bytes({0, ';'}));
    const SimCounters counters = sim.counters(0);
    QCOMPARE(qint64(messages.size()), counters.streamMessagesSent);
    QCOMPARE(counters.messagesSent, counters.streamMessagesSent + 1);
    QVERIFY(!sim.isStreaming(0));
    // The simulator's stream lies between the client's inner and outer
    // intervals, and it catches up with its clock, so the count is bounded by both.
    const int n = messages.size();
    QVERIFY2(n >= innerMs * 500 / 1000 - 3 && n <= outerMs * 500 / 1000 + 3,
             qPrintable(QString("%1 messages, %2..%3 ms").arg(n).arg(innerMs).arg(outerMs)));
}

void SimProtocolTest::stopBehaviourDependsOnFirmware_data()
{
    QTest::addColumn<int>("firmware");
    QTest::newRow("firmware 31") << 31;
    QTest::newRow("firmware 10") << 10;
}

void SimProtocolTest::stopBehaviourDependsOnFirmware()
{
    QFETCH(int, firmware);
    Simulator sim;
    SimConfig cfg;
    cfg.firmware = firmware;
    sim.setDefaultConfig(cfg);
    QVERIFY(sim.start());
    SimClient c;
    QVERIFY(c.connectTo(sim.port(0)));
    QCOMPARE(c.exchange("SEA\x01;", 2), bytes({0, ';'}));
    QCOMPARE(c.exchange("SMD\x02;", 2), bytes({0, ';'}));

    QByteArray data = c.exchange(startCmd("SLS", 200), 25);
    data += c.readFor(100);
    // Commands other than the stop are ignored while streaming.
    c.socket.write("GID;");
    data += c.readFor(50);
    c.socket.write("CLS;");
    data += c.readFor(300);

    QByteArray rest;
    const QList<QByteArray> messages = frames(data, &rest);
    QCOMPARE(rest, bytes({0, ';'}));
    QVERIFY(messages.size() >= 2);
    for (int i = 0; i < messages.size(); ++i) {
        const quint8 flags = quint8(messages[i][2]);
        const quint8 mode = quint8(messages[i][3]);
        const bool last = i == messages.size() - 1;
        if (firmware >= 11) {
            QCOMPARE(bool(flags & 0x80), last);
            QCOMPARE(flags & 0x78, 0x08 | 0x20 | 0x40);
            QCOMPARE(int(mode), 0x02);
        } else {
            QCOMPARE(int(flags), 0);
            QCOMPARE(int(mode), 0);
        }
    }
    QCOMPARE(sim.commandLog(0).value(3), QByteArray("GID;"));
    // Not streaming any more: commands are answered again.
    QCOMPARE(c.exchange("GSF;", 4).size(), 4);
}

void SimProtocolTest::variantMAndTriggerMode()
{
    Simulator sim;
    SimConfig cfg;
    cfg.variantM = true;
    cfg.ignorePercent = 50;
    cfg.pulseRate = 100;
    sim.setDefaultConfig(cfg);
    QVERIFY(sim.start());
    SimClient c;
    QVERIFY(c.connectTo(sim.port(0)));

    QByteArray data = c.exchange(startCmd("SGS", 500), 25);
    data += c.readFor(300);
    c.socket.write("CLS;");
    data += c.readFor(200);
    QByteArray rest;
    const QList<QByteArray> messages = frames(data, &rest);
    QCOMPARE(rest, bytes({0, ';'}));
    int ignored = 0;
    for (const QByteArray &m : messages)
        ignored += (m[3] & 0x04) ? 1 : 0;
    QVERIFY2(ignored > messages.size() / 5 && ignored < messages.size() * 4 / 5,
             qPrintable(QString("%1 of %2").arg(ignored).arg(messages.size())));

    // Trigger mode: acknowledge, then one message per pulse.
    QCOMPARE(c.exchange(QByteArray("SPS") + bytes({0, 0, ';'}), 2), bytes({0, ';'}));
    QVERIFY(sim.isStreaming(0));
    data = c.readFor(300);
    c.socket.write("CLS;");
    data += c.readFor(200);
    const QList<QByteArray> pulses = frames(data, &rest);
    QCOMPARE(rest, bytes({0, ';'}));
    QVERIFY(!pulses.isEmpty());
    QCOMPARE(qint64(messages.size() + pulses.size()), sim.counters(0).streamMessagesSent);

    cfg.triggerCapable = false;
    sim.setConfig(0, cfg);
    QCOMPARE(c.exchange(QByteArray("SPS") + bytes({0, 0, ';'}), 2), bytes({1, ';'}));
}

void SimProtocolTest::garbageBetweenMessagesHasNoZeroBytes()
{
    Simulator sim;
    SimFaults f;
    f.garbageEvery = 3;
    f.garbageBytes = 7;
    sim.setDefaultFaults(f);
    QVERIFY(sim.start());
    SimClient c;
    QVERIFY(c.connectTo(sim.port(0)));

    QByteArray data = c.exchange(startCmd("SLS", 500), 25);
    data += c.readFor(200);
    c.socket.write("CLS;");
    data += c.readFor(200);

    int pos = 0;
    int messages = 0;
    while (data.size() - pos > 2) {
        const QByteArray m = data.mid(pos, 25);
        QVERIFY2(m.size() == 25 && m[0] == 0 && m[1] == ';' && m[24] == ';', qPrintable(QString::number(pos)));
        pos += 25;
        ++messages;
        if (messages % 3 == 0 && data.size() - pos > 2) {
            const QByteArray garbage = data.mid(pos, 7);
            QVERIFY(!garbage.contains('\0'));
            pos += 7;
        }
    }
    QCOMPARE(data.mid(pos), bytes({0, ';'}));
    QVERIFY(messages > 10);
    // No garbage follows the stop's last message.
    QCOMPARE(sim.counters(0).garbageBytesSent, qint64((messages - 1) / 3 * 7));
}

void SimProtocolTest::benchModeSequenceIsConsecutive()
{
    Simulator sim;
    SimConfig cfg;
    cfg.bench = true;
    sim.setDefaultConfig(cfg);
    QVERIFY(sim.start());
    SimClient c;
    QVERIFY(c.connectTo(sim.port(0)));

    for (int run = 0; run < 2; ++run) {
        QByteArray data = c.exchange(startCmd("SLS", 500), 25);
        data += c.readFor(200);
        c.socket.write("CLS;");
        data += c.readFor(200);
        const quint32 nowUs = quint32(std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::system_clock::now().time_since_epoch()).count());
        QByteArray rest;
        const QList<QByteArray> messages = frames(data, &rest);
        QCOMPARE(rest, bytes({0, ';'}));
        QVERIFY(messages.size() > 10);
        for (int i = 0; i < messages.size(); ++i) {
            const quint32 seq = (quint32(u16(messages[i], 20)) << 16) | quint32(u16(messages[i], 22));
            QCOMPARE(seq, quint32(i));
            // Send time: microseconds, a little before now (hang guard of 10 s).
            const quint32 sentUs = (quint32(u16(messages[i], 16)) << 16) | quint32(u16(messages[i], 18));
            QVERIFY(quint32(nowUs - sentUs) < 10000000u);
        }
    }
}

void SimProtocolTest::replyFaults()
{
    Simulator sim;
    QVERIFY(sim.start());
    SimClient c;
    QVERIFY(c.connectTo(sim.port(0)));

    SimFaults f;
    f.dropEvery = 2;
    sim.setFaults(0, f);
    QCOMPARE(c.exchange("GSF;", 4).size(), 4);
    c.socket.write("GSF;");
    QVERIFY(c.readFor(200).isEmpty());
    QCOMPARE(sim.counters(0).repliesDropped, qint64(1));

    f = SimFaults();
    f.delayMs = 300;
    sim.setFaults(0, f);
    c.socket.write("GSF;");
    QVERIFY(c.readFor(100).isEmpty());
    QCOMPARE(c.readAtLeast(4).size(), 4);

    f = SimFaults();
    f.refuseCodes = {"SEA"};
    sim.setFaults(0, f);
    QCOMPARE(c.exchange("SEA\x01;", 2), bytes({1, ';'}));
    QCOMPARE(c.exchange("GER;", 7), QByteArray("\x00;SEA\x05;", 7));
    QCOMPARE(c.exchange("CEA\x01;", 2), bytes({0, ';'}));
    f.refuseAll = true;
    sim.setFaults(0, f);
    QCOMPARE(c.exchange("GID;", 2), bytes({1, ';'}));

    f = SimFaults();
    f.stallStream = true;
    sim.setFaults(0, f);
    QCOMPARE(c.exchange(startCmd("SLS", 500), 25).size(), 25);
    QVERIFY(c.readFor(200).isEmpty());
    QVERIFY(sim.isStreaming(0));
    QCOMPARE(sim.counters(0).streamMessagesSent, qint64(1));
}

void SimProtocolTest::connectionHandling()
{
    Simulator sim;
    QVERIFY(sim.start(0, 3));
    QVERIFY(sim.port(0) != sim.port(1) && sim.port(1) != sim.port(2));

    // A second client replaces the first, whose stream ends.
    SimClient first, second;
    QVERIFY(first.connectTo(sim.port(2)));
    QCOMPARE(first.exchange(startCmd("SLS", 100), 25).size(), 25);
    QVERIFY(second.connectTo(sim.port(2)));
    QVERIFY(first.socket.state() == QAbstractSocket::UnconnectedState || first.socket.waitForDisconnected(3000));
    QCOMPARE(second.exchange("GID;", 50).size(), 50);
    QVERIFY(!sim.isStreaming(2));

    SimFaults f;
    f.closeAfterMs = 100;
    sim.setFaults(1, f);
    SimClient closing;
    QVERIFY(closing.connectTo(sim.port(1)));
    QVERIFY(closing.socket.waitForDisconnected(3000));
    QVERIFY(!sim.hasClient(1));
}

QTEST_GUILESS_MAIN(SimProtocolTest)
#include "tst_SimProtocol.moc"
