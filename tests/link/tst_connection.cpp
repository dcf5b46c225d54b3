// Link core against a scripted controller on a local socket pair: the bytes
// of every sender, the gating rules of sendMessage, reply handling, stream
// decoding, resynchronisation and the end of a stream.

#include "LinkTestUtil.h"
#include "LogCapture.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QtTest>

#include <functional>
#include <memory>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// A Connection whose device is one end of a local socket pair. The test
// holds the other end and plays the controller with plain blocking reads and
// writes, so it needs no event loop while waitForReply blocks its thread.
class SocketPairConnection : public Connection
{
    Q_OBJECT
public:
    SocketPairConnection()
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
            linkFd = fds[0];
            controllerFd = fds[1];
        }
    }
    ~SocketPairConnection() override
    {
        stopLinkThread();
        if (controllerFd >= 0)
            ::close(controllerFd);
    }
    QString address() const override { return QStringLiteral("pair"); }
    bool isTcp() const override { return false; }
    bool initialize(QString, int) override { return true; }
    int parameter() const override { return 0; }
    void resync() override {}
    void clearInput() override
    {
        if (QIODevice *dev = currentDevice())
            dev->readAll();
    }

    // Controller side: writes all bytes; reads up to count bytes arriving
    // within timeoutMs.
    void controllerWrite(const QByteArray &bytes) { (void)!::write(controllerFd, bytes.constData(), bytes.size()); }
    QByteArray controllerRead(int count, int timeoutMs = 2000)
    {
        QByteArray result;
        QElapsedTimer timer;
        timer.start();
        pollfd p{controllerFd, POLLIN, 0};
        while (result.size() < count && ::poll(&p, 1, qMax(0, timeoutMs - int(timer.elapsed()))) > 0) {
            char buffer[512];
            const ssize_t n = ::read(controllerFd, buffer, size_t(qMin<int>(count - result.size(), sizeof buffer)));
            if (n <= 0)
                break;
            result.append(buffer, int(n));
        }
        return result;
    }

public slots:
    void sendMessage(QByteArray message, int answerLength) override
    {
        Connection::sendMessage(message, answerLength);
        if (auto *socket = qobject_cast<QLocalSocket *>(currentDevice()))
            socket->flush();
    }

protected:
    void run() override
    {
        setLinkState(Opening);
        auto *socket = new QLocalSocket; // takes the descriptor over
        createTrigger();
        if (socket->setSocketDescriptor(linkFd)) {
            linkFd = -1;
            attachDevice(socket);
            setLinkState(Connected);
            connectReader();
            exec();
            disconnectReader();
            detachDevice();
        } else {
            setLinkState(Failed);
        }
        destroyTrigger();
        delete socket;
        threadBodyFinished();
    }

private:
    int linkFd = -1;
    int controllerFd = -1;
};

namespace {

QByteArray word(int value) { return QByteArray(1, char((value >> 8) & 0xFF)) + char(value & 0xFF); }

// A stream message with the ten 16-bit values in wire order:
// x1 y1 i1 x2 y2 i2 rx1 ry1 rx2 ry2.
QByteArray streamMessage(quint8 status, quint8 mode, const QVector<int> &values)
{
    QByteArray m = goodReply + char(status) + char(mode);
    for (int i = 0; i < 10; ++i)
        m += word(i < values.size() ? values[i] : 0);
    return m + ';';
}

QByteArray numbered(int n) { return streamMessage(0, 0, {n, -n, 1000 + n}); }

QList<int> takeX1(Connection &link)
{
    QList<int> seen;
    StreamSample s;
    while (link.takeSample(s))
        seen << s.x1;
    return seen;
}

using Sender = std::function<void(Connection &)>;

} // namespace

Q_DECLARE_METATYPE(Sender)

class ConnectionTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SocketPairConnection> link;
    std::unique_ptr<LogCapture> log;

    // Starts a 500 Hz stream answered with the given start reply.
    bool startStream(const QByteArray &startReply = numbered(0))
    {
        link->setSamplingRate(500);
        link->startStream(rateArguments(500));
        link->controllerRead(8);
        link->controllerWrite(startReply);
        QByteArray reply;
        return link->waitForReply(reply) && link->isStreaming();
    }

    QByteArray stop(const QByteArray &controllerAnswer)
    {
        link->clearLiveStream();
        if (link->controllerRead(4) != "CLS;")
            return "CLS; not written";
        link->controllerWrite(controllerAnswer);
        QByteArray reply;
        link->waitForReply(reply);
        return reply;
    }

private slots:
    void initTestCase() { log = std::make_unique<LogCapture>(); }
    void cleanupTestCase() { log.reset(); }
    void init()
    {
        link = std::make_unique<SocketPairConnection>();
        link->start();
        QVERIFY(waitUntilConnected(*link));
        log->clear();
    }
    void cleanup() { link.reset(); }

    void sendersWriteExactBytesAndAwaitTheirAnswerLength_data()
    {
        QTest::addColumn<Sender>("send");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("answer");
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
        QFETCH(int, answer);
        send(*link);
        QCOMPARE(link->controllerRead(bytes.size() + 1, 300), bytes);
        // A reply of exactly the expected length comes back whole; a longer
        // or shorter expectation would cut or discard it.
        const QByteArray expected = goodReply + QByteArray(answer - 2, 'r');
        link->controllerWrite(expected);
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply, expected);
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
        QCOMPARE(link->controllerRead(8, 300), QByteArray("GSF;"));
        link->controllerWrite(goodReply + "\x07;");
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply, goodReply + "\x07;");

        // Streaming: only the stop command gets through.
        QVERIFY(startStream());
        link->getStatusFlags();
        QCOMPARE(link->controllerRead(100, 100), QByteArray());
        QCOMPARE(stop(streamMessage(0x80, 0, {}) + goodReply), goodReply);
        QVERIFY(!link->isStreaming());

        // A start command that was never answered blocks every further one.
        link->startStream(QByteArray("\x00\x00\x00\x0A;", 5));
        QCOMPARE(link->controllerRead(8), QByteArray("SLS\x00\x00\x00\x0A;", 8));
        QVERIFY(!link->waitForReply(reply));
        link->getStatusFlags();
        QCOMPARE(link->controllerRead(100, 100), QByteArray());
        QVERIFY(!link->waitForReply(reply));

        // A link whose thread never started sends nothing.
        SocketPairConnection idle;
        idle.getStatusFlags();
        QVERIFY(!idle.waitForReply(reply));
        QCOMPARE(idle.controllerRead(100, 50), QByteArray());
    }

    void shortRepliesKeepOnlyTwoByteErrorAnswers_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("2 bytes") << QByteArray("\x01;", 2) << QByteArray("\x01;", 2);
        QTest::newRow("3 bytes") << QByteArray("\x00;\x05", 3) << QByteArray();
        QTest::newRow("4 bytes") << QByteArray("\x00;\x05\x06", 4) << QByteArray();
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
        // Nothing of the short reply is left over for the next command.
        link->getStatusFlags();
        QCOMPARE(link->controllerRead(4), QByteArray("GSF;"));
        link->controllerWrite(goodReply + "\x07;");
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply, goodReply + "\x07;");
    }

    void stopOnAnIdleLinkIsReadOnlyAfterOneAndAHalfTimeouts()
    {
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(stop(goodReply), goodReply);
        // The wait is 1.5 time-outs; 25 ms allow for millisecond clock rounding.
        QVERIFY(timer.elapsed() >= link->baseTimeout() * 3 / 2 - 25);
        // Anything but a trailing 0x00 ';' is no confirmation.
        QCOMPARE(stop("xy\x01;"), QByteArray());
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
        link->controllerWrite(streamMessage(0x78, 0x03, {0xFF38, 0x7FFF, 0xFF38, 0x8000, 5, 0xFFFF, 10000, -1, 3, 4}));
        StreamSample s;
        QTRY_COMPARE(link->storedSamples(), 1);
        QVERIFY(link->takeSample(s));
        // Positions and ranges are signed, intensities unsigned.
        const QVector<int> values{s.x1, s.y1, s.intensity1, s.x2, s.y2, s.intensity2,
                                  s.rangeX1, s.rangeY1, s.rangeX2, s.rangeY2};
        QCOMPARE(values, (QVector<int>{-200, 32767, 65336, -32768, 5, 65535, 10000, -1, 3, 4}));
        const QVector<bool> flags{s.stabOn1, s.stabOn2, s.active1, s.active2, s.multiplex1, s.multiplex2};
        QCOMPARE(flags, QVector<bool>(6, firmware >= 11));
        QVERIFY(!link->takeSample(s)); // the start reply was not stored
    }

    void garbageIsSkippedByteByByteAndCounted()
    {
        QVERIFY(startStream());
        link->controllerWrite(QByteArray("\x01\x02\x03", 3) + numbered(1) + QByteArray("\x7F\x7F", 2) + numbered(2)
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
        link->controllerWrite(streamMessage(0xFF, 0, {7}));
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

    void ignoredSamplesAreSkippedOnlyOnVariantM_data()
    {
        QTest::addColumn<bool>("variantM");
        QTest::newRow("variant M") << true;
        QTest::newRow("standard") << false;
    }
    void ignoredSamplesAreSkippedOnlyOnVariantM()
    {
        QFETCH(bool, variantM);
        link->setFirmwareVersion(11);
        link->setVariantM(variantM);
        QVERIFY(startStream());
        link->controllerWrite(streamMessage(0, 0x04, {1}) + numbered(2));
        QTRY_COMPARE(link->storedSamples(), variantM ? 1 : 2);
        QCOMPARE(takeX1(*link).first(), variantM ? 2 : 1);
    }
};

QTEST_GUILESS_MAIN(ConnectionTest)
#include "tst_connection.moc"
