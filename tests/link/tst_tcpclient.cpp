// TcpClient end to end against the embedded simulator (its closing: tst_faults).

#include "SimulatorLink.h"
#include "With.h"

#include "link/Protocol.h"
#include "link/Identification.h"
#include "link/StreamPump.h"

#include <QScopeGuard>
#include <QTcpServer>

#include "SimController.h"

class TcpClientTest : public QObject
{
    Q_OBJECT

private slots:
    // While streaming the link reads in batches; a command must return it to reading every
    // byte, or its reply would wait for the next batch (5000: longer than the reply wait).
    void identifiesStreamsAndStops()
    {
        // Firmware, 20 garbage bytes after every n-th message, batch interval, who reads the
        // stream: 0 the link thread, 1 the stream pump socket by socket, 2 the pump with one
        // receive call per pass.
        const int batch = Connection::defaultStreamBatchInterval;
        for (auto [firmware, garbageEvery, batchMs, pump] : std::initializer_list<std::tuple<int, int, int, int>>{
                 {31, 7, 0, 2}, {31, 7, batch, 0}, {31, 7, batch, 1}, {31, 7, batch, 2}, {31, 0, batch, 2},
                 {31, 0, 5000, 2}, {10, 0, 5000, 2}}) {
            StreamPump::setEnabled(pump > 0);
            StreamPump::setRingReads(pump == 2);
            auto pumpBack = qScopeGuard([] { StreamPump::setEnabled(true), StreamPump::setRingReads(true); });
            const auto faults = with<SimFaults>([&](auto &f) { f.garbageEvery = garbageEvery, f.garbageBytes = 20; });
            Simulator sim;
            auto link = benchLink(sim, faults, with<SimConfig>([&](auto &c) { c.firmware = firmware; }));
            QVERIFY(link);
            QVERIFY(link->firmwareVersion() == firmware);
            link->setStreamBatchInterval(batchMs);
            QVERIFY(startStream(*link));
            QVector<StreamSample> samples;
            QTRY_VERIFY_WITH_TIMEOUT((samples += takeAll(*link)).size() > 100 || batchMs == 5000, 10000);
            if (batchMs == 5000) // held off: what came since the first read waits in the socket
                QTRY_VERIFY_WITH_TIMEOUT(sim.counters(0).streamMessagesSent - 1 - samples.size() - link->storedSamples() > 150, 4000);
            QByteArray reply;
            samples += takeAndStop(*link, 0, reply);
            QVERIFY(reply == goodReply);
            QVERIFY(!link->isStreaming()); // only within the reply wait
            // All in order despite garbage; firmware 10 drops what follows the stop.
            QVERIFY(samples.size() > 100);
            QVERIFY(isComplete(samples));
            if (firmware >= 11)
                QCOMPARE(samples.size(), int(sim.counters(0).streamMessagesSent) - 1);
            // Each run of garbage is skipped in one resynchronisation, whoever read it.
            QCOMPARE(qint64(link->resynchronisations()), sim.counters(0).garbageBytesSent / faults.garbageBytes);
            link->getStatusFlags(); // the link takes commands again
            QVERIFY(link->waitForReply(reply));
            QCOMPARE(reply.left(2) + char(reply.size()), goodReply + char(4));
        }
    }

    // The link's one answer-length table against what the controller
    // really sends: every good reply has exactly its table length.
    void everyReplyHasTheLengthOfTheAnswerTable()
    {
        Simulator sim; // variant M accepts SGS as well as SLS
        auto link = connectToSimulator(sim, with<SimConfig>([](auto &c) { c.variantM = true; }));
        QVERIFY(link);
        const QHash<QByteArray, QByteArray> special = {
            {"SLS", rateArguments(10)}, {"SGS", rateArguments(10)}, {"SPS", QByteArray("\x00\x00;", 3)},
            {"RFR", QByteArray("\x00\x00\xFF;", 4)}, {"SLA", QByteArray(25, 'L') + ';'}, {"SBR", "\x01;"}};
        for (const QByteArray &code : Protocol::codes()) {
            const int arguments = SimController::argumentLength(code.constData());
            // Stage 1, axis x, value 0x0101, where the command takes them.
            const QByteArray command =
                code + special.value(code, QByteArray("\x01x\x01\x01", 4).left(arguments - 1) + ';');
            const int length = Protocol::answerLength(code);
            link->postMessage(command, length);
            QByteArray reply;
            QVERIFY2(link->waitForReply(reply), code);
            QVERIFY2(reply.size() == length, qPrintable(code + ": " + reply.toHex()));
            QVERIFY2(reply.startsWith(goodReply), qPrintable(code + ": " + reply.toHex()));
            QVERIFY2(reply.endsWith(';'), qPrintable(code + ": " + reply.toHex()));
            if (link->isStreaming()) {
                link->clearLiveStream();
                QVERIFY(link->waitForReply(reply));
                QVERIFY(!link->isStreaming());
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

    // A reader that stops taking samples loses samples: the link counts exactly the sequence
    // numbers missing from what it took, and a new stream starts counting from zero.
    void droppedSamplesAreCountedExactly()
    {
        Simulator sim;
        auto link = benchLink(sim); // firmware 31: the end-of-stream message is a sample
        QVERIFY(link);
        QVERIFY(startStream(*link, 500));
        QVERIFY(link->droppedSamples() == 0);
        QTRY_VERIFY_WITH_TIMEOUT(link->droppedSamples() > 0, 30000); // more than the store holds
        QCOMPARE(link->storedSamples(), 1039);
        QByteArray reply;
        const QVector<StreamSample> samples = takeAndStop(*link, 300, reply);
        QCOMPARE(reply, goodReply);
        const qint64 sent = sim.counters(0).streamMessagesSent - 1; // all but the start reply are stored
        quint32 previous = 0;
        for (const StreamSample &s : samples) {
            QVERIFY2(sequenceOf(s) > previous, qPrintable(QString("%1 after %2").arg(sequenceOf(s)).arg(previous)));
            previous = sequenceOf(s);
        }
        QCOMPARE(qint64(previous), sent);                           // the last one arrived,
        QCOMPARE(sent - samples.size(), qint64(link->droppedSamples())); // and every gap was counted
        QVERIFY(startStream(*link, 500));
        QVERIFY(link->droppedSamples() == 0);
        takeAndStop(*link, 0, reply);
    }
};

QTEST_GUILESS_MAIN(TcpClientTest)
#include "tst_tcpclient.moc"
