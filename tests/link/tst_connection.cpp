// Link core against a scripted controller on a loopback socket: the bytes
// of every sender, the gating rules of sendMessage, reply handling, stream
// decoding, resynchronisation and the end of a stream.

#include "LinkTestUtil.h"
#include "LogCapture.h"

#include "link/TcpClient.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// A stream message with the ten 16-bit values in wire order:
// x1 y1 i1 x2 y2 i2 rx1 ry1 rx2 ry2.
QByteArray streamMessage(quint8 status, quint8 mode, const QVector<int> &values)
{
    QByteArray m = goodReply + char(status) + char(mode);
    for (int i = 0; i < 10; ++i)
        m += QByteArray(1, char(values.value(i) >> 8)) + char(values.value(i) & 0xFF);
    return m + ';';
}

QByteArray numbered(int n) { return streamMessage(0, 0, {n, -n, 1000 + n}); }

QList<int> takeX1(Connection &link)
{
    QList<int> seen;
    for (const StreamSample &s : takeAll(link))
        seen << s.x1;
    return seen;
}

using Sender = std::function<void(Connection &)>;

} // namespace

Q_DECLARE_METATYPE(Sender)

class ConnectionTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCapture> log;
    std::unique_ptr<TcpClient> link;
    // The controller's end of the link. The test plays the controller with
    // blocking reads and writes, so it needs no event loop of its own while
    // waitForReply blocks the test thread.
    QTcpServer server;
    std::unique_ptr<QTcpSocket> controller;

    void controllerWrite(const QByteArray &bytes)
    {
        controller->write(bytes);
        controller->waitForBytesWritten(1000);
    }
    // Up to count bytes, as far as they arrive within timeoutMs.
    QByteArray controllerRead(int count, int timeoutMs = 2000)
    {
        QElapsedTimer timer;
        timer.start();
        QByteArray result = controller->read(count);
        while (result.size() < count && timer.elapsed() < timeoutMs
               && controller->waitForReadyRead(int(qMax<qint64>(1, timeoutMs - timer.elapsed()))))
            result += controller->read(count - result.size());
        return result;
    }

    // The controller answers the command just sent; returns the reply the
    // link hands over, "none" when waitForReply fails.
    QByteArray answer(const QByteArray &bytes)
    {
        controllerWrite(bytes);
        QByteArray reply;
        return link->waitForReply(reply) ? reply : "none";
    }
    bool startStream()
    {
        link->startStream(rateArguments(500));
        return controllerRead(8).size() == 8 && answer(numbered(0)) == numbered(0) && link->isStreaming();
    }
    QByteArray stop(const QByteArray &controllerAnswer)
    {
        link->clearLiveStream();
        return controllerRead(4) == "CLS;" ? answer(controllerAnswer) : "CLS; not written";
    }

private slots:
    void initTestCase() { log = std::make_unique<LogCapture>(); }
    void cleanupTestCase() { log.reset(); }
    void init()
    {
        QVERIFY(server.isListening() || server.listen(QHostAddress::LocalHost));
        link = std::make_unique<TcpClient>();
        QVERIFY(link->initialize("127.0.0.1", server.serverPort()));
        link->start();
        QVERIFY(server.waitForNewConnection(5000));
        controller.reset(server.nextPendingConnection());
        QVERIFY(waitUntilConnected(*link));
        log->clear();
    }
    void cleanup()
    {
        link.reset();
        controller.reset();
    }

    void sendersWriteExactBytesAndAwaitTheirAnswerLength_data()
    {
        QTest::addColumn<Sender>("send");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("answerLength");
        const QByteArray a("\x01;", 2);
        const QByteArray ax("\x02x;", 3);
        const QByteArray ayv("\x01y\x01\x2C;", 5);
        const QByteArray rate = rateArguments(500);
        auto row = [](const char *name, Sender send, const QByteArray &bytes, int answer) {
            QTest::newRow(name) << send << bytes << answer;
        };
        row("S1S", [](Connection &c) { c.getStreamSample(); }, "S1S;", 25);
        row("GSF", [](Connection &c) { c.getStatusFlags(); }, "GSF;", 4);
        row("GID", [](Connection &c) { c.getControllerId(); }, "GID;", 50);
        row("GAS", [](Connection &c) { c.getActiveSignal(); }, "GAS;", 5);
        row("GIN", [=](Connection &c) { c.getIntensity(a); }, "GIN" + a, 5);
        row("GAI", [=](Connection &c) { c.getAdjustIn(ax); }, "GAI" + ax, 5);
        row("SAI", [=](Connection &c) { c.setAdjustIn(ayv); }, "SAI" + ayv, 2);
        row("GPF", [=](Connection &c) { c.getPFactor(a); }, "GPF" + a, 5);
        row("SPF", [=](Connection &c) { c.setPFactor(a); }, "SPF" + a, 2);
        row("GDS", [=](Connection &c) { c.getDetectorSensitivity(a); }, "GDS" + a, 5);
        row("SDS", [=](Connection &c) { c.setDetectorSensitivity(a); }, "SDS" + a, 2);
        row("SSH", [=](Connection &c) { c.startSetHold(a); }, "SSH" + a, 2);
        row("CSH", [=](Connection &c) { c.clearSetHold(a); }, "CSH" + a, 2);
        row("STF", [=](Connection &c) { c.setTriggerFreeze(a); }, "STF" + a, 5);
        row("CTF", [=](Connection &c) { c.clearTriggerFreeze(a); }, "CTF" + a, 2);
        row("SDA", [=](Connection &c) { c.setDriveActuator(ayv); }, "SDA" + ayv, 2);
        row("SEA", [=](Connection &c) { c.setStabilizationOn(a); }, "SEA" + a, 2);
        row("CEA", [=](Connection &c) { c.setStabilizationOff(a); }, "CEA" + a, 2);
        row("SMD", [=](Connection &c) { c.setMultiplex(a); }, "SMD" + a, 2);
        row("CMD", [=](Connection &c) { c.clearMultiplex(a); }, "CMD" + a, 2);
        row("SSE", [=](Connection &c) { c.sendSSE(a); }, "SSE" + a, 2);
        row("GCA", [](Connection &c) { c.getCommonDetector(); }, "GCA;", 11);
        row("GER", [](Connection &c) { c.getError(); }, "GER;", 7);
        row("RFR", [](Connection &c) { c.readFram(); }, QByteArray("RFR\x00\x00\xFF;", 7), 258);
        row("SBR", [](Connection &c) { c.setBaudRate(QByteArray("\x09;", 2)); }, QByteArray("SBR\x09;", 5), 2);
        row("SLA long", [](Connection &c) { c.sendLabel(QString(30, 'a')); }, "SLA" + QByteArray(25, 'a') + ";", 2);
        row("SLA short", [](Connection &c) { c.sendLabel("Lab"); }, "SLALab" + QByteArray(22, ' ') + ";", 2);
        row("SLS", [=](Connection &c) { c.startStream(rate); }, "SLS" + rate, 25);
        row("SGS variant M", [=](Connection &c) { c.setVariantM(true); c.startStream(rate); }, "SGS" + rate, 25);
        // Trigger mode has no rate bytes.
        row("SPS trigger mode", [=](Connection &c) { c.setTriggerMode(true); c.startStream(rate); },
            QByteArray("SPS\x00\x00;", 6), 2);
    }
    void sendersWriteExactBytesAndAwaitTheirAnswerLength()
    {
        QFETCH(Sender, send);
        QFETCH(QByteArray, bytes);
        QFETCH(int, answerLength);
        send(*link);
        QCOMPARE(controllerRead(bytes.size() + 1, 300), bytes);
        // A reply of exactly the expected length comes back whole; a longer
        // or shorter expectation would cut or discard it.
        const QByteArray expected = goodReply + QByteArray(answerLength - 2, 'r');
        QCOMPARE(answer(expected), expected);
        QCOMPARE(link->isStreaming(), (QList<QByteArray>{"SLS", "SGS", "SPS"}.contains(bytes.left(3))));
    }

    void commandsAreDroppedWhileTheLinkCannotTakeThem()
    {
        QByteArray reply;
        // Nothing sent: no wait at all.
        QVERIFY(!link->waitForReply(reply));

        // A reply is awaited: the second command never reaches the device.
        link->getStatusFlags();
        link->getActiveSignal();
        QCOMPARE(controllerRead(8, 300), QByteArray("GSF;"));
        QCOMPARE(answer(goodReply + "\x07;"), goodReply + "\x07;");

        // Streaming: only the stop command gets through.
        QVERIFY(startStream());
        link->getStatusFlags();
        QCOMPARE(controllerRead(100, 100), QByteArray());
        QCOMPARE(stop(streamMessage(0x80, 0, {}) + goodReply), goodReply);
        QVERIFY(!link->isStreaming());

        // A start command that was never answered blocks every further one.
        link->startStream(QByteArray("\x00\x00\x00\x0A;", 5));
        QCOMPARE(controllerRead(8), QByteArray("SLS\x00\x00\x00\x0A;", 8));
        QVERIFY(!link->waitForReply(reply));
        link->getStatusFlags();
        QCOMPARE(controllerRead(100, 100), QByteArray());
        QVERIFY(!link->waitForReply(reply));

        // A link whose thread never started awaits no reply.
        TcpClient idle;
        idle.getStatusFlags();
        QVERIFY(!idle.waitForReply(reply));
    }

    void shortRepliesKeepOnlyTwoByteErrorAnswers_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("2 bytes") << QByteArray("\x01;", 2) << QByteArray("\x01;", 2);
        QTest::newRow("3 bytes") << QByteArray("\x00;\x05", 3) << QByteArray("");
        QTest::newRow("4 bytes") << QByteArray("\x00;\x05\x06", 4) << QByteArray("");
    }
    void shortRepliesKeepOnlyTwoByteErrorAnswers()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, expected);
        link->getIntensity(QByteArray("\x01;", 2));
        controllerRead(5);
        QCOMPARE(answer(sent), expected);
        // Nothing of the short reply is left over for the next command.
        link->getStatusFlags();
        QCOMPARE(controllerRead(4), QByteArray("GSF;"));
        QCOMPARE(answer(goodReply + "\x07;"), goodReply + "\x07;");
    }

    void stopOnAnIdleLinkIsReadOnlyAfterOneAndAHalfTimeouts()
    {
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(stop(goodReply), goodReply);
        // 25 ms allow for millisecond clock rounding.
        QVERIFY(timer.elapsed() >= link->baseTimeout() * 3 / 2 - 25);
        QCOMPARE(stop("xy\x01;"), QByteArray("")); // only a trailing 0x00 ';' confirms
    }

    void streamValuesDecodeSignedAndUnsigned_data()
    {
        QTest::addColumn<int>("firmware");
        QTest::addColumn<bool>("variantM");
        QTest::newRow("firmware 31 decodes flags") << 31 << false;
        QTest::newRow("firmware 10 ignores flags") << 10 << false;
        QTest::newRow("variant M skips ignored samples") << 12 << true;
        QTest::newRow("variant M below firmware 11 keeps them") << 10 << true;
    }
    void streamValuesDecodeSignedAndUnsigned()
    {
        QFETCH(int, firmware);
        QFETCH(bool, variantM);
        link->setFirmwareVersion(firmware);
        link->setVariantM(variantM);
        QVERIFY(startStream());
        // Mode bit 2 marks a sample to be ignored.
        controllerWrite(streamMessage(0x78, 0x07, {0xFF38, 0x7FFF, 0xFF38, 0x8000, 5, 0xFFFF, 10000, -1, 3, 4})
                        + numbered(2));
        const bool skipped = variantM && firmware >= 11;
        QTRY_COMPARE(link->storedSamples(), skipped ? 1 : 2); // the start reply is not stored
        const QVector<StreamSample> samples = takeAll(*link);
        QCOMPARE(int(samples.last().x1), 2);
        if (skipped)
            return;
        // Positions and ranges are signed, intensities unsigned.
        const StreamSample &s = samples.first();
        const QVector<int> values{s.x1, s.y1, s.intensity1, s.x2, s.y2, s.intensity2,
                                  s.rangeX1, s.rangeY1, s.rangeX2, s.rangeY2};
        QCOMPARE(values, (QVector<int>{-200, 32767, 65336, -32768, 5, 65535, 10000, -1, 3, 4}));
        const QVector<bool> flags{s.stabOn1, s.stabOn2, s.active1, s.active2, s.multiplex1, s.multiplex2};
        QCOMPARE(flags, QVector<bool>(6, firmware >= 11));
    }

    void garbageIsSkippedByteByByteAndCounted()
    {
        QVERIFY(startStream());
        controllerWrite(QByteArray("\x01\x02\x03", 3) + numbered(1) + QByteArray("\x7F\x7F", 2) + numbered(2)
                              + numbered(3));
        QTRY_COMPARE_WITH_TIMEOUT(link->storedSamples(), 3, 3000);
        QCOMPARE(takeX1(*link), (QList<int>{1, 2, 3}));
        QVERIFY(log->contains("Incomplete stream message. Bytes skipped: 3"));
        QVERIFY(log->contains("Incomplete stream message. Bytes skipped: 2"));
    }

    void endOfStreamDependsOnFirmware()
    {
        // Firmware 10: a status byte 0xFF does not end the stream; the stop
        // is confirmed by the trailing 0x00 ';' after the wait.
        link->setFirmwareVersion(10);
        QVERIFY(startStream());
        controllerWrite(streamMessage(0xFF, 0, {7}));
        QTRY_COMPARE(link->storedSamples(), 1);
        QVERIFY(link->isStreaming());
        QCOMPARE(stop(numbered(8) + goodReply), goodReply);
        QVERIFY(!link->isStreaming());

        // Firmware 11: the last message (bit 7) is stored and ends the stream.
        link->setFirmwareVersion(11);
        QVERIFY(startStream());
        QCOMPARE(stop(numbered(1) + streamMessage(0x80, 0, {2}) + goodReply), goodReply);
        QVERIFY(!link->isStreaming());
        QCOMPARE(takeX1(*link), (QList<int>{1, 2}));
    }
};

QTEST_GUILESS_MAIN(ConnectionTest)
#include "tst_connection.moc"
