// Link core against a scripted controller on a local socket pair: the bytes
// of every sender, the gating rules of sendMessage, reply handling, stream
// decoding, resynchronisation and the end of a stream.

#include "LogCapture.h"
#include "SocketPairConnection.h"

#include "link/measureStore.h"

#include <QElapsedTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QByteArray good("\x00;", 2);

QByteArray word(int value)
{
    QByteArray bytes;
    bytes.append(char((value >> 8) & 0xFF));
    bytes.append(char(value & 0xFF));
    return bytes;
}

// A stream message with the ten 16-bit values in wire order:
// x1 y1 i1 x2 y2 i2 rx1 ry1 rx2 ry2.
QByteArray streamMessage(quint8 status, quint8 mode, const QVector<int> &values)
{
    QByteArray m = good;
    m.append(char(status));
    m.append(char(mode));
    for (int i = 0; i < 10; ++i)
        m.append(word(i < values.size() ? values[i] : 0));
    m.append(';');
    return m;
}

QByteArray numbered(int n) { return streamMessage(0, 0, {n, -n, 1000 + n}); }

using Sender = std::function<void(Connection &)>;

} // namespace

Q_DECLARE_METATYPE(Sender)

class ConnectionTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SocketPairConnection> link;
    std::unique_ptr<LogCapture> log;

    // Starts a stream with the given start reply; returns whether the link
    // reports streaming afterwards.
    bool startStream(const QByteArray &startReply = numbered(0))
    {
        link->setSamplingRate(500);
        link->startStream(QByteArray("\x00\x00\x01\xF4;", 5));
        link->controllerRead(8);
        link->controllerWrite(startReply);
        QByteArray reply;
        return link->waitForReply(reply) && link->isStreaming();
    }

private slots:
    void initTestCase() { log = std::make_unique<LogCapture>(); }
    void cleanupTestCase() { log.reset(); }

    void init()
    {
        link = std::make_unique<SocketPairConnection>();
        QVERIFY(link->open());
        log->clear();
    }
    void cleanup() { link.reset(); }

    void sendersWriteExactBytesAndAwaitTheirAnswerLength_data()
    {
        QTest::addColumn<Sender>("send");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("answer");
        const QByteArray s1("\x01;", 2);
        const QByteArray s2x("\x02x;", 3);
        const QByteArray s1yv("\x01y\x01\x2C;", 5);
        QTest::newRow("S1S") << Sender([](Connection &c) { c.getStreamSample(); }) << QByteArray("S1S;") << 25;
        QTest::newRow("GSF") << Sender([](Connection &c) { c.getStatusFlags(); }) << QByteArray("GSF;") << 4;
        QTest::newRow("GID") << Sender([](Connection &c) { c.getControllerId(); }) << QByteArray("GID;") << 50;
        QTest::newRow("GAS") << Sender([](Connection &c) { c.getActiveSignal(); }) << QByteArray("GAS;") << 5;
        QTest::newRow("GIN") << Sender([=](Connection &c) { c.getIntensity(s1); }) << ("GIN" + s1) << 5;
        QTest::newRow("GAI") << Sender([=](Connection &c) { c.getAdjustIn(s2x); }) << ("GAI" + s2x) << 5;
        QTest::newRow("SAI") << Sender([=](Connection &c) { c.setAdjustIn(s1yv); }) << ("SAI" + s1yv) << 2;
        QTest::newRow("GPF") << Sender([=](Connection &c) { c.getPFactor(s1); }) << ("GPF" + s1) << 5;
        QTest::newRow("SPF") << Sender([=](Connection &c) { c.setPFactor(s1); }) << ("SPF" + s1) << 2;
        QTest::newRow("GDS") << Sender([=](Connection &c) { c.getDetectorSensitivity(s1); }) << ("GDS" + s1) << 5;
        QTest::newRow("SDS") << Sender([=](Connection &c) { c.setDetectorSensitivity(s1); }) << ("SDS" + s1) << 2;
        QTest::newRow("SSH") << Sender([=](Connection &c) { c.startSetHold(s1); }) << ("SSH" + s1) << 2;
        QTest::newRow("CSH") << Sender([=](Connection &c) { c.clearSetHold(s1); }) << ("CSH" + s1) << 2;
        QTest::newRow("STF") << Sender([=](Connection &c) { c.setTriggerFreeze(s1); }) << ("STF" + s1) << 5;
        QTest::newRow("CTF") << Sender([=](Connection &c) { c.clearTriggerFreeze(s1); }) << ("CTF" + s1) << 2;
        QTest::newRow("SDA") << Sender([=](Connection &c) { c.setDriveActuator(s1yv); }) << ("SDA" + s1yv) << 2;
        QTest::newRow("SEA") << Sender([=](Connection &c) { c.setStabilizationOn(s1); }) << ("SEA" + s1) << 2;
        QTest::newRow("CEA") << Sender([=](Connection &c) { c.setStabilizationOff(s1); }) << ("CEA" + s1) << 2;
        QTest::newRow("SMD") << Sender([=](Connection &c) { c.setMultiplex(s1); }) << ("SMD" + s1) << 2;
        QTest::newRow("CMD") << Sender([=](Connection &c) { c.clearMultiplex(s1); }) << ("CMD" + s1) << 2;
        QTest::newRow("SSE") << Sender([=](Connection &c) { c.sendSSE(s1); }) << ("SSE" + s1) << 2;
        QTest::newRow("GCA") << Sender([](Connection &c) { c.getCommonDetector(); }) << QByteArray("GCA;") << 11;
        QTest::newRow("GER") << Sender([](Connection &c) { c.getError(); }) << QByteArray("GER;") << 7;
        QTest::newRow("RFR") << Sender([](Connection &c) { c.readFram(); }) << QByteArray("RFR\x00\x00\xFF;", 7)
                             << 258;
        QTest::newRow("SBR") << Sender([](Connection &c) { c.setBaudRate(QByteArray("\x09;", 2)); })
                             << QByteArray("SBR\x09;", 5) << 2;
        QTest::newRow("SLA long") << Sender([](Connection &c) { c.sendLabel(QString(30, 'a')); })
                                  << ("SLA" + QByteArray(25, 'a') + ";") << 2;
        QTest::newRow("SLA short") << Sender([](Connection &c) { c.sendLabel("Lab"); })
                                   << ("SLA" + QByteArray("Lab") + QByteArray(22, ' ') + ";") << 2;
    }
    void sendersWriteExactBytesAndAwaitTheirAnswerLength()
    {
        QFETCH(Sender, send);
        QFETCH(QByteArray, bytes);
        QFETCH(int, answer);
        send(*link);
        QCOMPARE(link->controllerRead(bytes.size() + 1, 300), bytes);
        // A reply of exactly the expected length comes back whole; a longer
        // or shorter expectation would cut or discard it.
        QByteArray expected = good + QByteArray(answer - 2, 'r');
        link->controllerWrite(expected);
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply, expected);
    }

    void commandsAreDroppedWhileTheLinkCannotTakeThem()
    {
        QByteArray reply;
        // Nothing sent: no wait at all.
        QVERIFY(!link->waitForReply(reply));
        QVERIFY(reply.isEmpty());

        // A reply is awaited: the second command never reaches the device.
        link->getStatusFlags();
        link->getActiveSignal();
        QCOMPARE(link->controllerRead(8, 300), QByteArray("GSF;"));
        link->controllerWrite(good + "\x07;");
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply, good + "\x07;");

        // Streaming: only the stop command gets through.
        QVERIFY(startStream());
        link->getStatusFlags();
        QCOMPARE(link->controllerDrain(100), QByteArray());
        link->clearLiveStream();
        QCOMPARE(link->controllerRead(4), QByteArray("CLS;"));
        link->controllerWrite(streamMessage(0x80, 0, {}) + good);
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply, good);
        QVERIFY(!link->isStreaming());

        // A start command that was never answered blocks every further one.
        link->startStream(QByteArray("\x00\x00\x00\x0A;", 5));
        QCOMPARE(link->controllerRead(8), QByteArray("SLS\x00\x00\x00\x0A;", 8));
        QVERIFY(!link->waitForReply(reply));
        link->getStatusFlags();
        QCOMPARE(link->controllerDrain(100), QByteArray());
        QVERIFY(!link->waitForReply(reply));
    }

    void commandsToAnUnstartedLinkGoNowhere()
    {
        SocketPairConnection idle; // thread never started, no relay
        idle.getStatusFlags();
        QByteArray reply;
        QVERIFY(!idle.waitForReply(reply));
        QCOMPARE(idle.controllerDrain(50), QByteArray());
    }

    void shortRepliesKeepOnlyTwoByteErrorAnswers_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("2 bytes") << QByteArray("\x01;", 2) << QByteArray("\x01;", 2);
        QTest::newRow("3 bytes") << QByteArray("\x00;\x05", 3) << QByteArray();
        QTest::newRow("4 bytes") << QByteArray("\x00;\x05\x06", 4) << QByteArray();
        QTest::newRow("silence") << QByteArray() << QByteArray();
    }
    void shortRepliesKeepOnlyTwoByteErrorAnswers()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, expected);
        link->getIntensity(QByteArray("\x01;", 2));
        link->controllerRead(5);
        link->controllerWrite(sent);
        QByteArray reply("stale");
        link->waitForReply(reply);
        QCOMPARE(reply, expected);
        // The link is usable afterwards.
        link->getStatusFlags();
        QCOMPARE(link->controllerRead(4), QByteArray("GSF;"));
    }

    void stopOnAnIdleLinkIsReadOnlyAfterOneAndAHalfTimeouts()
    {
        QElapsedTimer timer;
        timer.start();
        link->clearLiveStream();
        QCOMPARE(link->controllerRead(4), QByteArray("CLS;"));
        link->controllerWrite(good);
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply, good);
        QVERIFY(timer.elapsed() >= 1100);
        QVERIFY(log->contains("Saving reply"));
        QVERIFY(log->contains("Finished saving reply"));

        // Anything but a trailing 0x00 ';' is no confirmation.
        link->clearLiveStream();
        link->controllerRead(4);
        link->controllerWrite("xy\x01;");
        QVERIFY(link->waitForReply(reply));
        QVERIFY(reply.isEmpty());
    }

    void streamValuesDecodeSignedAndUnsigned_data()
    {
        QTest::addColumn<int>("firmware");
        QTest::newRow("firmware 31 decodes flags") << 31;
        QTest::newRow("firmware 10 ignores flags") << 10;
    }
    void streamValuesDecodeSignedAndUnsigned()
    {
        QFETCH(int, firmware);
        link->setFirmwareVersion(firmware);
        QVERIFY(startStream());
        // x1 = 0xFF38 (-200 mV), intensity1 = 0xFF38 (65336 mV).
        link->controllerWrite(streamMessage(0x78, 0x03,
                                            {0xFF38, 0x7FFF, 0xFF38, 0x8000, 5, 0xFFFF, 10000, -1, 3, 4}));
        StreamSample s;
        QTRY_COMPARE(link->storedSamples(), 1);
        QVERIFY(link->takeSample(s));
        QCOMPARE(int(s.x1), -200);
        QCOMPARE(int(s.y1), 32767);
        QCOMPARE(int(s.intensity1), 65336);
        QCOMPARE(int(s.x2), -32768);
        QCOMPARE(int(s.y2), 5);
        QCOMPARE(int(s.intensity2), 65535);
        QCOMPARE(int(s.rangeX1), 10000);
        QCOMPARE(int(s.rangeY1), -1);
        QCOMPARE(int(s.rangeX2), 3);
        QCOMPARE(int(s.rangeY2), 4);
        const bool flags = firmware >= 11;
        QCOMPARE(s.stabOn1, flags);
        QCOMPARE(s.stabOn2, flags);
        QCOMPARE(s.active1, flags);
        QCOMPARE(s.active2, flags);
        QCOMPARE(s.multiplex1, flags);
        QCOMPARE(s.multiplex2, flags);
        // The start reply itself was not stored.
        QVERIFY(!link->takeSample(s));
    }

    void garbageIsSkippedByteByByteAndCounted()
    {
        QVERIFY(startStream());
        link->controllerWrite(QByteArray("\x01\x02\x03", 3) + numbered(1) + QByteArray("\x7F\x7F", 2) + numbered(2)
                              + numbered(3));
        StreamSample s;
        QList<int> seen;
        QTRY_COMPARE_WITH_TIMEOUT(link->storedSamples(), 3, 3000);
        while (link->takeSample(s))
            seen << s.x1;
        QCOMPARE(seen, (QList<int>{1, 2, 3}));
        QVERIFY(log->contains("Incomplete stream message. Bytes skipped: 3"));
        QVERIFY(log->contains("Incomplete stream message. Bytes skipped: 2"));
    }

    void endOfStreamDependsOnFirmware()
    {
        // Firmware 10: a status byte 0xFF does not end the stream; the stop
        // is confirmed by the trailing 0x00 ';' after the wait.
        link->setFirmwareVersion(10);
        QVERIFY(startStream());
        link->controllerWrite(streamMessage(0xFF, 0, {7}));
        QTRY_COMPARE(link->storedSamples(), 1);
        QVERIFY(link->isStreaming());
        link->clearLiveStream();
        QCOMPARE(link->controllerRead(4), QByteArray("CLS;"));
        link->controllerWrite(numbered(8) + good);
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply, good);
        QVERIFY(!link->isStreaming());

        // Firmware 11: the last message (bit 7) is stored and ends the stream.
        link->setFirmwareVersion(11);
        QVERIFY(startStream());
        link->clearLiveStream();
        QCOMPARE(link->controllerRead(4), QByteArray("CLS;"));
        link->controllerWrite(numbered(1) + streamMessage(0x80, 0, {2}) + good);
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply, good);
        QVERIFY(!link->isStreaming());
        StreamSample s;
        QList<int> seen;
        while (link->takeSample(s))
            seen << s.x1;
        QCOMPARE(seen, (QList<int>{1, 2}));
    }

    void ignoredSamplesAreSkippedOnlyOnVariantM_data()
    {
        QTest::addColumn<bool>("variantM");
        QTest::addColumn<int>("stored");
        QTest::newRow("variant M") << true << 1;
        QTest::newRow("standard") << false << 2;
    }
    void ignoredSamplesAreSkippedOnlyOnVariantM()
    {
        QFETCH(bool, variantM);
        QFETCH(int, stored);
        link->setFirmwareVersion(11);
        link->setVariantM(variantM);
        link->setSamplingRate(100);
        link->startStream(QByteArray("\x00\x00\x00\x64;", 5));
        QCOMPARE(link->controllerRead(8).left(3), QByteArray(variantM ? "SGS" : "SLS"));
        link->controllerWrite(numbered(0));
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        link->controllerWrite(streamMessage(0, 0x04, {1}) + numbered(2));
        QTRY_VERIFY(link->storedSamples() >= 1);
        QTest::qWait(100);
        QCOMPARE(link->storedSamples(), stored);
    }

    void triggerModeStartsWithoutRateBytes()
    {
        link->setTriggerMode(true);
        link->startStream(QByteArray("\x00\x00\x01\xF4;", 5));
        QCOMPARE(link->controllerRead(7, 300), QByteArray("SPS\x00\x00;", 6));
        link->controllerWrite(good);
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply, good);
        QVERIFY(link->isStreaming());
    }

    void disconnectEndsTheThread()
    {
        QVERIFY(link->disconnectLink());
        QCOMPARE(link->linkState(), int(Connection::Disconnected));
        QVERIFY(link->isFinished());
        QVERIFY(log->contains("Disconnecting"));
    }

    void samplingRateAcceptsOneToFiveHundred()
    {
        QVERIFY(!link->setSamplingRate(0));
        QCOMPARE(link->samplingRate(), -1);
        QVERIFY(link->setSamplingRate(1));
        QVERIFY(!link->setSamplingRate(501));
        QCOMPARE(link->samplingRate(), 1);
        QVERIFY(link->setSamplingRate(500));
    }
};

QTEST_GUILESS_MAIN(ConnectionTest)
#include "tst_connection.moc"
