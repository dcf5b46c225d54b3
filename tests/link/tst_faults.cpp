// A simulated controller that stalls, closes or is slow; many sessions in a row.

#include "SimulatorLink.h"

#include "link/Identification.h"

#include <unistd.h>

static int entriesIn(const QString &path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size();
}

// Under AddressSanitizer, whose quarantine holds freed memory, always 0.
static qint64 residentBytes()
{
#ifdef __SANITIZE_ADDRESS__
    return 0;
#endif
    QFile statm("/proc/self/statm");
    const QList<QByteArray> fields = statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ') : QList<QByteArray>();
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : -1;
}

class FaultsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Simulator> sim;

    // Identified by "GID;" only: the full identification's stops wait here.
    std::unique_ptr<TcpClient> connectAndIdentify(const SimFaults &faults = SimFaults())
    {
        SimConfig config;
        config.bench = true;
        auto link = connectToSimulator(*sim, config, faults);
        return link && identifyController(*link, 0).valid ? std::move(link) : nullptr;
    }

private slots:
    void init() { sim = std::make_unique<Simulator>(); }
    void cleanup() { sim.reset(); }

    void stalledControllerNeverHangsTheLink_data()
    {
        QTest::addColumn<bool>("stopAnswered");
        QTest::newRow("stop answered") << true;
        QTest::newRow("nothing answered") << false;
    }
    // The stop is written, its wait ends; only a confirmed one ends the stream.
    void stalledControllerNeverHangsTheLink()
    {
        QFETCH(bool, stopAnswered);
        auto link = connectAndIdentify();
        QVERIFY(link && startStream(*link));
        QVector<StreamSample> samples = takeFor(*link, 300);
        SimFaults stall;
        stall.stallStream = true;
        stall.dropEvery = stopAnswered ? 0 : 1;
        sim->setFaults(0, stall);
        samples += takeFor(*link, 300);
        QVERIFY(samples.size() > 50 && isComplete(samples) && link->isStreaming());
        sim->clearCommandLog(0);
        QElapsedTimer timer;
        timer.start();
        link->clearLiveStream();
        QByteArray reply;
        QCOMPARE(link->waitForReply(reply), stopAnswered);
        QVERIFY2(timer.elapsed() < 2 * link->baseTimeout() + 3000, "stop and reply wait hang");
        QVERIFY(sim->commandLog(0).contains("CLS;"));
        QCOMPARE(reply, stopAnswered ? goodReply : QByteArray());
        QCOMPARE(link->isStreaming(), !stopAnswered);
        QCOMPARE(takeAll(*link).size(), stopAnswered ? 1 : 0); // the last message
        QVERIFY(link->disconnectLink());
    }

    void controllerClosingMidStreamKeepsReceivedSamples()
    {
        SimFaults faults;
        faults.closeAfterMs = 800;
        auto link = connectAndIdentify(faults);
        QVERIFY(link);
        QStringList reported;
        connect(link.get(), &Connection::hostDisconnected, this,
                [&reported](const QString &address) { reported << address; }, Qt::QueuedConnection);
        QVERIFY(startStream(*link));
        // Nobody takes samples until the link has ended: 800 ms fit the store.
        QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 10000);
        QTest::qWait(200); // room for a second notice, which must not come
        QCOMPARE(reported, QStringList{"127.0.0.1"});
        const QVector<StreamSample> samples = takeAll(*link);
        QVERIFY(samples.size() > 100 && isComplete(samples));
        QCOMPARE(samples.size(), int(sim->counters(0).streamMessagesSent) - 1);
        link->getStatusFlags(); // a command on the ended link fails at once
        QByteArray reply;
        QVERIFY(!link->waitForReply(reply));
    }

    void slowRepliesArriveOrTimeOutCleanly()
    {
        auto link = connectAndIdentify();
        QVERIFY(link);
        SimFaults slow;
        slow.delayMs = 300; // within the reply wait
        sim->setFaults(0, slow);
        link->getStatusFlags();
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply.size(), 4);
        slow.delayMs = 2200; // beyond it
        sim->setFaults(0, slow);
        const qint64 sentBefore = sim->counters(0).messagesSent;
        QElapsedTimer timer;
        timer.start();
        link->getStatusFlags();
        QVERIFY(!link->waitForReply(reply));
        QVERIFY2(timer.elapsed() < 2 * link->baseTimeout() + 3000, "reply wait hangs");
        // The late reply is dropped, not taken for the next command's answer.
        QTRY_VERIFY_WITH_TIMEOUT(sim->counters(0).messagesSent > sentBefore, 10000);
        QTest::qWait(100);
        sim->setFaults(0, SimFaults());
        link->getActiveSignal();
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply.size(), 5);
    }

    void repeatedSessionsLeakNothing()
    {
        auto session = [this] {
            auto link = connectAndIdentify();
            QVERIFY(link && startStream(*link));
            QByteArray reply;
            const QVector<StreamSample> samples = takeAndStop(*link, 50, reply);
            QCOMPARE(reply, goodReply);
            QVERIFY(!samples.isEmpty() && isComplete(samples));
            QVERIFY(link->disconnectLink());
        };
        // The first session creates the process's one-time state.
        session();
        QTest::qWait(100);
        const int baseThreads = entriesIn("/proc/self/task"), baseFds = entriesIn("/proc/self/fd");
        const qint64 baseResident = residentBytes();
        for (int cycle = 1; cycle < 100 && !QTest::currentTestFailed(); ++cycle)
            session();
        QTRY_VERIFY_WITH_TIMEOUT(entriesIn("/proc/self/task") <= baseThreads, 5000);
        QTest::qWait(50); // the simulator deletes its side of the last socket later
        QVERIFY2(entriesIn("/proc/self/fd") <= baseFds, "descriptors leak");
        // A link's socket buffers per session would exceed 2 MiB.
        const qint64 grown = residentBytes() - baseResident;
        QVERIFY2(grown < 2 * 1024 * 1024, qPrintable(QString("resident memory grew by %1 bytes").arg(grown)));
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_faults.moc"
