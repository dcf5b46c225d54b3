// Link core against a controller played by the test on a loopback socket.

#include "LinkTestUtil.h"
#include "LogCapture.h"

#include "link/Protocol.h"
#include "link/TcpClient.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <thread>

// A stream message of 16-bit values in wire order: x1 y1 i1 x2 y2 i2 rx1 ry1 rx2 ry2.
static QByteArray streamMessage(quint8 status, quint8 mode, const QVector<int> &values)
{
    QByteArray m = goodReply + char(status) + char(mode);
    for (int i = 0; i < 10; ++i)
        m += QByteArray(1, char(values.value(i) >> 8)) + char(values.value(i) & 0xFF);
    return m + ';';
}

static QByteArray numbered(int n) { return streamMessage(0, 0, {n, -n, 1000 + n}); }

static QList<int> takeX1(Connection &link)
{
    QList<int> seen;
    for (const StreamSample &s : takeAll(link))
        seen << s.x1;
    return seen;
}

using Sender = std::function<void(Connection &)>;

class ConnectionTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCapture> log;
    std::unique_ptr<TcpClient> link;
    // Blocking reads and writes: no event loop runs while waitForReply blocks.
    QTcpServer server;
    std::unique_ptr<QTcpSocket> controller;

    void controllerWrite(const QByteArray &bytes) { controller->write(bytes); controller->waitForBytesWritten(1000); }
    QByteArray controllerRead(int count, int timeoutMs = 2000)
    {
        QElapsedTimer timer;
        for (timer.start(); controller->bytesAvailable() < count && timer.elapsed() < timeoutMs;)
            controller->waitForReadyRead(10);
        return controller->read(count);
    }
    // The reply the link hands over for this answer, "none" when it fails.
    QByteArray answer(const QByteArray &bytes)
    {
        controllerWrite(bytes);
        QByteArray reply;
        return link->waitForReply(reply) ? reply : "none";
    }
    bool startStream()
    {
        link->startStream(rateArguments(500));
        const QByteArray start = (link->isVariantM() ? "SGS" : "SLS") + rateArguments(500);
        return controllerRead(8) == start && answer(numbered(0)) == numbered(0) && link->isStreaming();
    }
    // The reply to the stop; the link must have left the stream either way.
    QByteArray stop(const QByteArray &controllerAnswer)
    {
        link->clearLiveStream();
        const QByteArray reply = controllerRead(4) == "CLS;" ? answer(controllerAnswer) : "CLS; not written";
        return link->isStreaming() ? "still streaming" : reply;
    }

private slots:
    void initTestCase() { log = std::make_unique<LogCapture>(); }
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
    void cleanup() { link.reset(); }

    void sendersWriteExactBytesAndAwaitTheirAnswerLength()
    {
        QList<QPair<Sender, QByteArray>> rows; // what is called, the bytes it must write
        const QByteArray a("\x01;", 2), ax("\x02x;", 3), ayv("\x01y\x01\x2C;", 5), rate = rateArguments(500);
        using Plain = void (Connection::*)();
        for (auto [cmd, f] : std::initializer_list<std::tuple<const char *, Plain>>{
                 {"S1S", &Connection::getStreamSample}, {"GSF", &Connection::getStatusFlags},
                 {"GID", &Connection::getControllerId}, {"GAS", &Connection::getActiveSignal},
                 {"GCA", &Connection::getCommonDetector}, {"GER", &Connection::getError}})
            rows.append({[f = f](Connection &c) { (c.*f)(); }, cmd + QByteArray(";")});
        using WithArguments = std::tuple<const char *, void (Connection::*)(const QByteArray &), QByteArray>;
        for (auto [cmd, f, args] : std::initializer_list<WithArguments>{
                 {"GIN", &Connection::getIntensity, a}, {"GAI", &Connection::getAdjustIn, ax},
                 {"SAI", &Connection::setAdjustIn, ayv}, {"GPF", &Connection::getPFactor, a},
                 {"SPF", &Connection::setPFactor, a}, {"GDS", &Connection::getDetectorSensitivity, a},
                 {"SDS", &Connection::setDetectorSensitivity, a}, {"SSH", &Connection::startSetHold, a},
                 {"CSH", &Connection::clearSetHold, a}, {"STF", &Connection::setTriggerFreeze, a},
                 {"CTF", &Connection::clearTriggerFreeze, a}, {"SDA", &Connection::setDriveActuator, ayv},
                 {"SEA", &Connection::setStabilizationOn, a}, {"CEA", &Connection::setStabilizationOff, a},
                 {"SMD", &Connection::setMultiplex, a}, {"CMD", &Connection::clearMultiplex, a},
                 {"SSE", &Connection::sendSSE, a}, {"SBR", &Connection::setBaudRate, QByteArray("\x09;", 2)},
                 {"SLS", &Connection::startStream, rate}})
            rows.append({[f = f, args = args](Connection &c) { (c.*f)(args); }, cmd + args});
        rows.append({[](Connection &c) { c.readFram(); }, QByteArray("RFR\x00\x00\xFF;", 7)});
        rows.append({[](Connection &c) { c.sendLabel(QString(30, 'a')); }, "SLA" + QByteArray(25, 'a') + ";"});
        rows.append({[](Connection &c) { c.sendLabel("Lab"); }, "SLALab" + QByteArray(22, ' ') + ";"});
        rows.append({[=](Connection &c) { c.setVariantM(true); c.startStream(rate); }, "SGS" + rate});
        rows.append({[=](Connection &c) { c.setTriggerMode(true); c.startStream(rate); }, QByteArray("SPS\x00\x00;", 6)});
        for (const auto &[send, bytes] : rows) {
            cleanup();
            init();
            const int answerLength = Protocol::answerLength(bytes);
            send(*link);
            QCOMPARE(controllerRead(bytes.size()), bytes);
            // Only a reply of exactly the expected length comes back whole.
            const QByteArray expected = goodReply + QByteArray(answerLength - 2, 'r');
            QCOMPARE(answer(expected), expected);
            QVERIFY(!controller->waitForReadyRead(0));
            QVERIFY(controller->readAll().isEmpty()); // nothing beyond the command
            QVERIFY2(link->isStreaming() == QList<QByteArray>({"SLS", "SGS", "SPS"}).contains(bytes.left(3)), bytes);
        }
    }

    // The bytes read after each dropped command show that nothing was written for it.
    void commandsAreDroppedWhileTheLinkCannotTakeThem()
    {
        QByteArray reply;
        QVERIFY(!link->waitForReply(reply)); // nothing sent, nothing to wait for
        // Awaiting a reply, streaming (but for the stop), start unanswered: dropped.
        link->getStatusFlags();
        link->getActiveSignal();
        QCOMPARE(controllerRead(4), QByteArray("GSF;"));
        QCOMPARE(answer(goodReply + "\x07;"), goodReply + "\x07;");
        QVERIFY(startStream());
        link->getStatusFlags(); // handled before the stop: the first bytes written must be CLS;
        QCOMPARE(stop(streamMessage(0x80, 0, {}) + goodReply), goodReply);
        link->startStream(QByteArray("\x00\x00\x00\x0A;", 5));
        QCOMPARE(controllerRead(8), QByteArray("SLS\x00\x00\x00\x0A;", 8));
        link->getStatusFlags();
        QVERIFY(!link->waitForReply(reply)); // the start is given up...
        QCOMPARE(stop(goodReply), goodReply); // ...so the stop goes out
        TcpClient idle; // nor on a link never started
        idle.getStatusFlags();
        QVERIFY(!idle.waitForReply(reply));
    }

    void shortRepliesKeepOnlyTwoByteErrorAnswers()
    {
        // A whole reply that comes in two parts 50 ms apart is awaited.
        link->getIntensity(QByteArray("\x01;", 2));
        QCOMPARE(controllerRead(5), QByteArray("GIN\x01;", 5));
        controllerWrite(goodReply + "\x01");
        QThread::msleep(50);
        QCOMPARE(answer("\x02;"), goodReply + "\x01\x02;");
        for (const QByteArray &sent : {QByteArray("\x01;", 2), QByteArray("\0;\5\6", 4)}) { // an error, a good one cut short
            link->getIntensity(QByteArray("\x01;", 2));
            controllerRead(5);
            QCOMPARE(answer(sent), sent.size() == 2 ? sent : QByteArray(""));
            link->getStatusFlags();
            QCOMPARE(controllerRead(4), QByteArray("GSF;"));
            QCOMPARE(answer(goodReply + "\x07;"), goodReply + "\x07;");
        }
    }

    void stopOnAnIdleLinkIsReadOnlyAfterOneAndAHalfTimeouts()
    {
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(stop(goodReply), goodReply);
        QVERIFY(timer.elapsed() >= link->baseTimeout() * 3 / 2 - 25);
        QCOMPARE(stop("xy\x01;"), QByteArray("")); // only a trailing 0x00 ';' confirms
        QVERIFY(startStream()); // and only a confirmed stop ends a stream
        QCOMPARE(stop(numbered(1) + "xy\x01;"), QByteArray("still streaming"));
    }

    void streamValuesDecodeSignedAndUnsigned()
    {
        for (auto [firmware, variantM] :
             std::initializer_list<std::pair<int, bool>>{{31, false}, {10, false}, {12, true}, {10, true}}) {
            cleanup();
            init();
            link->setFirmwareVersion(firmware);
            link->setVariantM(variantM);
            QVERIFY(startStream());
            // Mode bit 2 marks an ignored sample. Positions, ranges signed; intensities not.
            controllerWrite(streamMessage(0x78, 0x07, {0xFF38, 0x7FFF, 0xFF38, 0x8000, 5, 0xFFFF, 10000, -1, 3, 4})
                            + numbered(2));
            const bool skipped = variantM && firmware >= 11;
            QTRY_COMPARE(link->storedSamples(), skipped ? 1 : 2); // the start reply is not stored
            const QVector<StreamSample> samples = takeAll(*link);
            QCOMPARE(int(samples.last().x1), 2);
            if (skipped)
                continue;
            const StreamSample &s = samples.first();
            const QVector<int> values{s.x1, s.y1, s.intensity1, s.x2, s.y2, s.intensity2,
                                      s.rangeX1, s.rangeY1, s.rangeX2, s.rangeY2};
            QCOMPARE(values, (QVector<int>{-200, 32767, 65336, -32768, 5, 65535, 10000, -1, 3, 4}));
            const QVector<bool> flags{s.stabOn1, s.stabOn2, s.active1, s.active2, s.multiplex1, s.multiplex2};
            QCOMPARE(flags, QVector<bool>(6, firmware >= 11));
        }
    }

    void garbageIsSkippedByteByByteAndCounted()
    {
        QVERIFY(startStream());
        // A false frame start (0x00 ';' and junk, no ';' 23 bytes later)
        // is skipped like any garbage: only byte 24 tells it apart.
        const QByteArray falseStart = goodReply + QByteArray(23, '\x7F');
        controllerWrite(QByteArray("\x01\x02\x03", 3) + numbered(1) + QByteArray("\x7F\x7F", 2) + numbered(2)
                        + falseStart + numbered(3) + numbered(4));
        QTRY_COMPARE_WITH_TIMEOUT(link->storedSamples(), 4, 3000);
        QCOMPARE(takeX1(*link), (QList<int>{1, 2, 3, 4}));
        QCOMPARE(link->resynchronisations(), 3);
        for (int skipped : {3, 2, 25})
            QVERIFY(log->contains(QString("Incomplete stream message. Bytes skipped: %1").arg(skipped)));
    }

    void endOfStreamDependsOnFirmware()
    {
        // Firmware 10: status 0xFF does not end the stream, the stop does.
        link->setFirmwareVersion(10);
        QVERIFY(startStream());
        controllerWrite(streamMessage(0xFF, 0, {7}));
        QTRY_COMPARE(link->storedSamples(), 1);
        QVERIFY(link->isStreaming());
        QCOMPARE(stop(numbered(8) + goodReply), goodReply);
        // Firmware 11: the last message (bit 7) is stored and ends it.
        link->setFirmwareVersion(11);
        QVERIFY(startStream());
        QCOMPARE(stop(numbered(1) + streamMessage(0x80, 0, {2}) + goodReply), goodReply);
        QCOMPARE(takeX1(*link), (QList<int>{1, 2}));
        // Variant M: a last message marked to be ignored is not stored.
        link->setVariantM(true);
        QVERIFY(startStream());
        QCOMPARE(stop(numbered(1) + streamMessage(0x80, 0x04, {2}) + goodReply), goodReply);
        QCOMPARE(takeX1(*link), QList<int>{1});
    }

    // Resynchronisation drops input up to a whole status reply (its closing ';'
    // included) and publishes that as the reply; while streaming it sends no query.
    void resyncFindsACompleteStatusReply()
    {
        std::thread resync([this] { link->resync(); });
        const QByteArray query = controllerRead(4);
        // Junk, a status reply without its closing ';', then a whole one.
        controllerWrite(QByteArray("\x05\x00;\x07X", 5) + goodReply + "\x05;" + "\x7F");
        resync.join();
        QCOMPARE(query, QByteArray("GSF;"));
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply, goodReply + "\x05;");
        QVERIFY(startStream());
        std::thread([this] { link->resync(); }).join();
        QCOMPARE(stop(streamMessage(0x80, 0, {}) + goodReply), goodReply); // the stop is the next thing written
    }

    // The batch reader keeps the start of a message for the next batch and hands it back
    // when a command ends the batching: the stop reader then completes that message first.
    void messageSplitAcrossBatchesAndTheStopIsStoredWhole()
    {
        for (int batchMs : {0, Connection::defaultStreamBatchInterval}) {
            cleanup();
            init();
            link->setFirmwareVersion(11);
            link->setStreamBatchInterval(batchMs);
            QVERIFY(startStream());
            controllerWrite(numbered(1));
            QTRY_COMPARE(link->storedSamples(), 1);
            controllerWrite(numbered(2) + numbered(3).left(10));
            QTRY_COMPARE(link->storedSamples(), 2);
            QTest::qWait(30); // several batches go by with the part held
            controllerWrite(numbered(3).mid(10, 10));
            QTest::qWait(30);
            QCOMPARE(stop(numbered(3).mid(20) + streamMessage(0x80, 0, {4}) + goodReply), goodReply);
            QCOMPARE(takeX1(*link), (QList<int>{1, 2, 3, 4}));
            QCOMPARE(link->resynchronisations(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(ConnectionTest)
#include "tst_connection.moc"
