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

    // A reader that stops taking samples for three seconds loses samples: the
    // link's count of them is exactly the number of sequence numbers missing
    // from what it took (which came in order), and a new stream starts
    // counting from zero.
    void droppedSamplesAreCountedExactly()
    {
        Simulator sim;
        SimConfig config;
        config.bench = true;
        auto link = connectToSimulator(sim, config);
        QVERIFY(link);
        QVERIFY(identifyController(*link).valid); // firmware 31: the end-of-stream message is a sample
        QVERIFY(startStream(*link, 500));
        QCOMPARE(link->droppedSamples(), 0);
        QTest::qWait(3000);
        // However slow the machine: more than the store holds has come in.
        QTRY_VERIFY_WITH_TIMEOUT(link->droppedSamples() > 0, 30000);
        QCOMPARE(link->storedSamples(), 1039);
        QByteArray reply;
        const QVector<StreamSample> samples = takeAndStop(*link, 300, reply);
        QCOMPARE(reply, goodReply);
        const qint64 sent = sim.counters(0).streamMessagesSent - 1; // all but the start reply are stored
        const qint64 dropped = link->droppedSamples();
        quint32 previous = 0;
        for (const StreamSample &s : samples) {
            const quint32 sequence = (quint32(quint16(s.rangeX2)) << 16) | quint16(s.rangeY2);
            QVERIFY2(sequence > previous, qPrintable(QString("%1 after %2").arg(sequence).arg(previous)));
            previous = sequence;
        }
        QCOMPARE(qint64(previous), sent);                // the last one arrived,
        QCOMPARE(sent - samples.size(), dropped);        // and every gap was counted
        QVERIFY(startStream(*link, 500));
        QCOMPARE(link->droppedSamples(), 0);
        takeAndStop(*link, 100, reply);
    }
};

QTEST_GUILESS_MAIN(TcpClientTest)
#include "tst_tcpclient.moc"
