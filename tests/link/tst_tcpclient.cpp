// TcpClient end to end against the embedded controller simulator on
// loopback: identification, exact stream counts, both stop protocols,
// garbage, the controller going away and nobody listening.

#include "LinkTestUtil.h"
#include "LogCapture.h"

#include "Simulator.h"
#include "link/Identification.h"
#include "link/TcpClient.h"

#include <QTcpServer>
#include <QtTest>

#include <memory>

class TcpClientTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCapture> log;
    std::unique_ptr<Simulator> sim;

    // A connected link to a simulated controller started with these settings.
    std::unique_ptr<TcpClient> connectToSimulator(const SimConfig &config = SimConfig(),
                                                  const SimFaults &faults = SimFaults())
    {
        sim->setDefaultConfig(config);
        sim->setDefaultFaults(faults);
        auto link = std::make_unique<TcpClient>();
        if (!sim->start(0, 1) || !link->initialize("127.0.0.1", sim->port(0)))
            return nullptr;
        link->start();
        return waitUntilConnected(*link) ? std::move(link) : nullptr;
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
        QTest::newRow("port 70000") << "192.168.0.10" << 70000 << false;
        QTest::newRow("port 65535") << "192.168.0.10" << 65535 << true;
    }
    void initializeAcceptsOnlyIpAddressesAndPorts()
    {
        QFETCH(QString, address);
        QFETCH(int, port);
        QFETCH(bool, accepted);
        TcpClient link;
        QCOMPARE(link.initialize(address, port), accepted);
    }

    void connectsAndIdentifies()
    {
        SimConfig config;
        config.firmware = 12;
        config.variantM = true;
        config.triggerCapable = false;
        auto link = connectToSimulator(config);
        QVERIFY(link);
        const ControllerIdentity identity = identifyController(*link);
        QVERIFY(identity.valid);
        QCOMPARE(identity.controllerId.toLatin1(), sim->identification(0));
        QCOMPARE(link->firmwareVersion(), 12);
        QVERIFY(link->isVariantM());
        QVERIFY(!link->triggerCapable());
    }

    void streamsAndStops_data()
    {
        QTest::addColumn<int>("firmware");
        QTest::addColumn<int>("garbageEvery");
        QTest::newRow("firmware 31") << 31 << 0;
        QTest::newRow("firmware 31, garbage every 7 messages") << 31 << 7;
        QTest::newRow("firmware 10") << 10 << 0;
    }
    void streamsAndStops()
    {
        QFETCH(int, firmware);
        QFETCH(int, garbageEvery);
        SimConfig config;
        config.firmware = firmware;
        SimFaults faults;
        faults.garbageEvery = garbageEvery;
        faults.garbageBytes = 3;
        auto link = connectToSimulator(config, faults);
        QVERIFY(link);
        QVERIFY(identifyController(*link).valid);
        QCOMPARE(link->firmwareVersion(), firmware);
        log->clear();
        QVERIFY(startStream(*link));
        QByteArray stopReply;
        const int taken = takeAndStop(*link, 800, stopReply).size();
        QCOMPARE(stopReply, goodReply);
        QVERIFY(!link->isStreaming());
        QVERIFY(taken > 100);
        // From firmware 11 on, everything after the start reply is stored, up
        // to and including the last message. Older firmware keeps sending
        // until the stop, and what comes after it is dropped.
        if (firmware >= 11)
            QCOMPARE(taken, int(sim->counters(0).streamMessagesSent) - 1);
        QCOMPARE(log->contains("Incomplete stream message. Bytes skipped: 3"), garbageEvery > 0);

        // The link takes commands again.
        link->getStatusFlags();
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply.size(), 4);
        QCOMPARE(reply.left(2), goodReply);
    }

    void controllerClosingIsReportedOnce()
    {
        SimFaults faults;
        faults.closeAfterMs = 300;
        auto link = connectToSimulator(SimConfig(), faults);
        QVERIFY(link);
        QStringList reported;
        connect(link.get(), &Connection::hostDisconnected, this,
                [&reported](const QString &address) { reported << address; }, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 5000);
        QTest::qWait(100); // room for a second notice, which must not come
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
