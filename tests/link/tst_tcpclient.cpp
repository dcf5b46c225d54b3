// TcpClient end to end against the embedded simulator (its closing: tst_faults).

#include "SimulatorLink.h"

#include "link/CommandSet.h"
#include "link/Identification.h"

#include <QTcpServer>

#include "SimController.h"

class TcpClientTest : public QObject
{
    Q_OBJECT

private slots:
    void initializeAcceptsOnlyIpAddressesAndPorts()
    {
        TcpClient link;
        QVERIFY(link.initialize("192.168.0.10", 65535) && link.initialize("::1", 2000));
        QVERIFY(!link.initialize("localhost", 2000));
        QVERIFY(!link.initialize("192.168.0.10", 70000));
    }

    void identifiesStreamsAndStops()
    {
        // Firmware 31 with 20 garbage bytes after every 7th message; firmware 10 without.
        for (auto [firmware, garbageEvery] : std::initializer_list<std::pair<int, int>>{{31, 7}, {10, 0}}) {
            SimConfig config;
            config.firmware = firmware;
            config.bench = true; // sequence numbers in the stream
            SimFaults faults;
            faults.garbageEvery = garbageEvery;
            faults.garbageBytes = 20;
            Simulator sim;
            auto link = connectToSimulator(sim, config, faults);
            QVERIFY(link);
            QCOMPARE(identifyController(*link).controllerId.toLatin1(), sim.identification(0));
            QCOMPARE(link->firmwareVersion(), firmware);
            QVERIFY(startStream(*link));
            QByteArray reply;
            const QVector<StreamSample> samples = takeAndStop(*link, 800, reply);
            QCOMPARE(reply, goodReply);
            QVERIFY(!link->isStreaming());
            // All in order despite garbage; firmware 10 drops what follows the stop.
            QVERIFY(samples.size() > 100 && isComplete(samples));
            if (firmware >= 11)
                QCOMPARE(samples.size(), int(sim.counters(0).streamMessagesSent) - 1);
            QCOMPARE(link->resynchronisations() > 0, garbageEvery > 0);
            link->getStatusFlags(); // the link takes commands again
            QVERIFY(link->waitForReply(reply));
            QCOMPARE(reply.left(2) + char(reply.size()), goodReply + char(4));
        }
    }

    // The link's one answer-length table against what the controller
    // really sends: every good reply has exactly its table length.
    void everyReplyHasTheLengthOfTheAnswerTable()
    {
        SimConfig config;
        config.variantM = true; // accepts SGS as well as SLS
        Simulator sim;
        auto link = connectToSimulator(sim, config);
        QVERIFY(link);
        const QHash<QByteArray, QByteArray> special = {
            {"SLS", rateArguments(10)}, {"SGS", rateArguments(10)}, {"SPS", QByteArray("\x00\x00;", 3)},
            {"RFR", QByteArray("\x00\x00\xFF;", 4)}, {"SLA", QByteArray(25, 'L') + ';'}, {"SBR", "\x01;"}};
        for (const QByteArray &code : CommandSet::codes()) {
            const int arguments = SimController::argumentLength(code.constData());
            // Stage 1, axis x, value 0x0101, where the command takes them.
            const QByteArray command =
                code + special.value(code, QByteArray("\x01x\x01\x01", 4).left(arguments - 1) + ';');
            const int length = CommandSet::answerLength(code);
            link->postMessage(command, length);
            QByteArray reply;
            QVERIFY2(link->waitForReply(reply), code);
            QVERIFY2(reply.size() == length && reply.startsWith(goodReply) && reply.endsWith(';'),
                     qPrintable(code + ": " + reply.toHex()));
            if (link->isStreaming()) {
                link->clearLiveStream();
                QVERIFY(link->waitForReply(reply) && !link->isStreaming());
            }
        }
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
