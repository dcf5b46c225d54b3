// TcpClient end to end against the embedded controller simulator on
// loopback: identification, exact stream counts, both stop protocols,
// garbage, the controller going away and nobody listening.

#include "LogCapture.h"

#include "Simulator.h"
#include "link/Identification.h"
#include "link/TcpClient.h"

#include <QTcpServer>
#include <QtTest>

#include <memory>

namespace {

const QByteArray good("\x00;", 2);

bool waitUntilConnected(Connection &link)
{
    QElapsedTimer timer;
    timer.start();
    while (link.linkState() != Connection::Connected && !link.isFinished() && timer.elapsed() < 5000)
        QThread::msleep(1);
    return link.linkState() == Connection::Connected;
}

QByteArray rateArguments(int rate)
{
    return QByteArray("\x00\x00", 2) + char(rate >> 8) + char(rate & 0xFF) + ';';
}

} // namespace

class TcpClientTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCapture> log;
    std::unique_ptr<Simulator> sim;

    std::unique_ptr<TcpClient> connectTo(quint16 port)
    {
        auto link = std::make_unique<TcpClient>();
        if (!link->initialize("127.0.0.1", port))
            return nullptr;
        link->start();
        if (!waitUntilConnected(*link))
            return nullptr;
        return link;
    }

    // Streams for about the given time while taking samples the way the
    // display does, stops, and returns how many samples were taken.
    int streamAndStop(TcpClient &link, int rate, int milliseconds, QByteArray &stopReply)
    {
        link.setSamplingRate(rate);
        link.startStream(rateArguments(rate));
        QByteArray reply;
        if (!link.waitForReply(reply) || !link.isStreaming())
            return -1;
        int taken = 0;
        StreamSample sample;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < milliseconds) {
            while (link.takeSample(sample))
                ++taken;
            QThread::msleep(5);
        }
        link.clearLiveStream();
        link.waitForReply(stopReply);
        while (link.takeSample(sample))
            ++taken;
        return taken;
    }

private slots:
    void initTestCase() { log = std::make_unique<LogCapture>(); }
    void cleanupTestCase() { log.reset(); }
    void init() { sim = std::make_unique<Simulator>(); }
    void cleanup() { sim.reset(); }

    void initializeAcceptsOnlyIpAddressesAndPorts_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("ipv4") << "192.168.0.10" << 2000 << true;
        QTest::newRow("ipv6") << "::1" << 2000 << true;
        QTest::newRow("host name") << "localhost" << 2000 << false;
        QTest::newRow("empty") << "" << 2000 << false;
        QTest::newRow("port 70000") << "192.168.0.10" << 70000 << false;
        QTest::newRow("port 65536") << "192.168.0.10" << 65536 << false;
        QTest::newRow("port 65535") << "192.168.0.10" << 65535 << true;
    }
    void initializeAcceptsOnlyIpAddressesAndPorts()
    {
        QFETCH(QString, address);
        QFETCH(int, port);
        QFETCH(bool, accepted);
        TcpClient link;
        QCOMPARE(link.initialize(address, port), accepted);
        if (accepted) {
            QCOMPARE(link.address(), address);
            QCOMPARE(link.parameter(), port);
        }
    }

    void connectsAndIdentifies()
    {
        SimConfig config;
        config.firmware = 12;
        config.variantM = true;
        config.triggerCapable = false;
        sim->setDefaultConfig(config);
        QVERIFY(sim->start(0, 1));
        auto link = connectTo(sim->port(0));
        QVERIFY(link);
        const ControllerIdentity identity = identifyController(*link);
        QVERIFY(identity.valid);
        QCOMPARE(link->firmwareVersion(), 12);
        QVERIFY(link->isVariantM());
        QVERIFY(!link->triggerCapable());
        QCOMPARE(identity.controllerId.toLatin1(), sim->identification(0));
    }

    void streamDeliversEverySentMessage_data()
    {
        QTest::addColumn<int>("garbageEvery");
        QTest::newRow("clean") << 0;
        QTest::newRow("garbage every 7 messages") << 7;
    }
    void streamDeliversEverySentMessage()
    {
        QFETCH(int, garbageEvery);
        SimFaults faults;
        faults.garbageEvery = garbageEvery;
        faults.garbageBytes = 3;
        sim->setDefaultFaults(faults);
        QVERIFY(sim->start(0, 1));
        auto link = connectTo(sim->port(0));
        QVERIFY(link);
        QVERIFY(identifyController(*link).valid);
        log->clear();
        QByteArray stopReply;
        const int taken = streamAndStop(*link, 500, 1000, stopReply);
        QCOMPARE(stopReply, good);
        QVERIFY(!link->isStreaming());
        // Firmware 31: everything after the start reply is stored, up to and
        // including the last message.
        QCOMPARE(taken, int(sim->counters(0).streamMessagesSent) - 1);
        QVERIFY(taken > 100);
        QCOMPARE(log->contains("Incomplete stream message. Bytes skipped: 3"), garbageEvery > 0);
    }

    void oldFirmwareStopIsConfirmedAfterTheWait()
    {
        SimConfig config;
        config.firmware = 10;
        sim->setDefaultConfig(config);
        QVERIFY(sim->start(0, 1));
        auto link = connectTo(sim->port(0));
        QVERIFY(link);
        QVERIFY(identifyController(*link).valid);
        QCOMPARE(link->firmwareVersion(), 10);
        QByteArray stopReply;
        QVERIFY(streamAndStop(*link, 200, 500, stopReply) > 20);
        QCOMPARE(stopReply, good);
        QVERIFY(!link->isStreaming());
        // The link takes commands again.
        link->getStatusFlags();
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply.left(2), good);
        QCOMPARE(reply.size(), 4);
    }

    void controllerClosingIsReportedOnce()
    {
        SimFaults faults;
        faults.closeAfterMs = 300;
        sim->setDefaultFaults(faults);
        QVERIFY(sim->start(0, 1));
        auto link = connectTo(sim->port(0));
        QVERIFY(link);
        QStringList reported;
        connect(link.get(), &Connection::hostDisconnected, this,
                [&reported](const QString &address) { reported << address; }, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 5000);
        QTest::qWait(100);
        QCOMPARE(reported, QStringList{"127.0.0.1"});
        QVERIFY(log->contains("Controller disconnected"));
    }

    void nobodyListeningEndsTheThreadWhileOpening()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        TcpClient link;
        QVERIFY(link.initialize("127.0.0.1", port));
        link.start();
        QTRY_VERIFY_WITH_TIMEOUT(link.isFinished(), 5000);
        QCOMPARE(link.linkState(), int(Connection::Opening));
        link.getStatusFlags();
        QByteArray reply;
        QVERIFY(!link.waitForReply(reply));
    }
};

QTEST_GUILESS_MAIN(TcpClientTest)
#include "tst_tcpclient.moc"
