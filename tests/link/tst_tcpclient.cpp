// TcpClient end to end against the embedded controller simulator on
// loopback: identification, exact stream counts, both stop protocols,
// garbage and nobody listening. The controller closing the connection is
// covered by tst_faults.

#include "SimulatorLink.h"

#include "link/Identification.h"

#include <QTcpServer>
#include <QtTest>

#include <memory>

class TcpClientTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Simulator> sim;

private slots:
    void init() { sim = std::make_unique<Simulator>(); }
    void cleanup() { sim.reset(); }

    void initializeAcceptsOnlyIpAddressesAndPorts()
    {
        TcpClient link;
        QVERIFY(link.initialize("192.168.0.10", 65535));
        QVERIFY(link.initialize("::1", 2000));
        QVERIFY(!link.initialize("localhost", 2000));
        QVERIFY(!link.initialize("192.168.0.10", 70000));
    }

    void identifiesStreamsAndStops_data()
    {
        QTest::addColumn<int>("firmware");
        QTest::addColumn<bool>("variantM");
        QTest::addColumn<int>("garbageEvery");
        QTest::addColumn<int>("garbageBytes");
        QTest::newRow("firmware 31") << 31 << false << 0 << 0;
        QTest::newRow("3 garbage bytes after every message") << 31 << false << 1 << 3;
        QTest::newRow("20 garbage bytes after every 7th message") << 31 << false << 7 << 20;
        QTest::newRow("firmware 12, variant M") << 12 << true << 0 << 0;
        QTest::newRow("firmware 10") << 10 << false << 0 << 0;
    }
    void identifiesStreamsAndStops()
    {
        QFETCH(int, firmware);
        QFETCH(bool, variantM);
        QFETCH(int, garbageEvery);
        QFETCH(int, garbageBytes);
        SimConfig config;
        config.firmware = firmware;
        config.variantM = variantM;
        config.triggerCapable = !variantM;
        config.ignorePercent = 0;
        config.bench = true; // sequence numbers in the stream
        SimFaults faults;
        faults.garbageEvery = garbageEvery;
        faults.garbageBytes = garbageBytes;
        auto link = connectToSimulator(*sim, config, faults);
        QVERIFY(link);
        const ControllerIdentity identity = identifyController(*link);
        QVERIFY(identity.valid);
        QCOMPARE(identity.controllerId.toLatin1(), sim->identification(0));
        QCOMPARE(link->firmwareVersion(), firmware);
        QCOMPARE(link->isVariantM(), variantM);
        QCOMPARE(link->triggerCapable(), !variantM);

        QVERIFY(startStream(*link));
        QByteArray stopReply;
        const QVector<StreamSample> samples = takeAndStop(*link, 800, stopReply);
        QCOMPARE(stopReply, goodReply);
        QVERIFY(!link->isStreaming());
        // Every message after the start reply in order and once: garbage
        // never costs an intact message. From firmware 11 on the stream ends
        // with a last message, which is stored too; older firmware keeps
        // sending until the stop, and what comes after it is dropped.
        QVERIFY(samples.size() > 100 && isComplete(samples));
        if (firmware >= 11)
            QCOMPARE(samples.size(), int(sim->counters(0).streamMessagesSent) - 1);
        QCOMPARE(link->resynchronisations() > 0, garbageEvery > 0);

        // The link takes commands again.
        link->getStatusFlags();
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply.size(), 4);
        QCOMPARE(reply.left(2), goodReply);
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
    }
};

QTEST_GUILESS_MAIN(TcpClientTest)
#include "tst_tcpclient.moc"
