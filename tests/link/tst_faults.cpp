// The link against a simulated controller that stalls, closes the
// connection or answers slowly, and many short sessions in a row: nothing
// that could be kept is lost, nothing hangs (time limits are hang guards).

#include "SimulatorLink.h"

#include "link/Identification.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <unistd.h>

#include <memory>

namespace {

constexpr qint64 hangGuardMs = 3000; // slack on top of a documented wait

int entriesIn(const QString &path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size();
}

qint64 residentBytes()
{
    QFile statm("/proc/self/statm");
    const QList<QByteArray> fields = statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ') : QList<QByteArray>();
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : -1;
}

} // namespace

class FaultsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Simulator> sim;

    // A connected, identified link to the simulator, which the first call
    // starts in benchmark mode with the given faults. Only "GID;" is sent:
    // the stop attempts of the full identification wait 1.1 s each here.
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
    void stalledControllerNeverHangsTheLink()
    {
        QFETCH(bool, stopAnswered);
        auto link = connectAndIdentify();
        QVERIFY(link && startStream(*link));
        QVector<StreamSample> samples;
        takeFor(*link, 300, samples);
        SimFaults stall;
        stall.stallStream = true;
        stall.dropEvery = stopAnswered ? 0 : 1;
        sim->setFaults(0, stall);
        takeFor(*link, 300, samples);
        QVERIFY(samples.size() > 50 && isComplete(samples));
        QVERIFY(link->isStreaming());

        // The reader is not stuck waiting for the silent controller: the
        // stop command is written and the reply wait ends in time.
        sim->clearCommandLog(0);
        QElapsedTimer timer;
        timer.start();
        link->clearLiveStream();
        QByteArray reply;
        QCOMPARE(link->waitForReply(reply), stopAnswered);
        QVERIFY2(timer.elapsed() < 2 * link->baseTimeout() + hangGuardMs, "stop and reply wait hang");
        QVERIFY(sim->commandLog(0).contains("CLS;"));
        QCOMPARE(reply, stopAnswered ? goodReply : QByteArray());
        // An unconfirmed stop leaves the stream on; a confirmed one delivers
        // the stream's last message.
        QCOMPARE(link->isStreaming(), !stopAnswered);
        QCOMPARE(takeAll(*link).size(), stopAnswered ? 1 : 0);
        QVERIFY(link->disconnectLink());
        QCOMPARE(link->linkState(), int(Connection::Disconnected));
        QVERIFY(!link->isStreaming());
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
        // Nobody takes samples until the link has ended: 800 ms at 500 Hz
        // fit into the store.
        QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 10000);
        QTest::qWait(200); // room for a second notice, which must not come
        QCOMPARE(reported, QStringList{"127.0.0.1"});

        const QVector<StreamSample> samples = takeAll(*link);
        QVERIFY(samples.size() > 100 && isComplete(samples));
        QCOMPARE(samples.size(), int(sim->counters(0).streamMessagesSent) - 1);

        // A command on the ended link fails at once instead of waiting.
        link->getStatusFlags();
        QByteArray reply;
        QVERIFY(!link->waitForReply(reply));
        QVERIFY(link->disconnectLink());
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
        QVERIFY2(timer.elapsed() < 2 * link->baseTimeout() + hangGuardMs, "reply wait hangs");
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
        // The first session creates the process's one-time state (event
        // dispatcher, network layer). A baseline taken while its thread is
        // still ending is only higher, so "no growth" stays a fair check.
        session();
        QTest::qWait(100);
        const int baseThreads = entriesIn("/proc/self/task");
        const int baseFds = entriesIn("/proc/self/fd");
        const qint64 baseResident = residentBytes();
        for (int cycle = 1; cycle < 100 && !QTest::currentTestFailed(); ++cycle)
            session();
        if (QTest::currentTestFailed())
            return;

        // Counts settle once the last session's thread and socket are gone.
        QTRY_VERIFY_WITH_TIMEOUT(entriesIn("/proc/self/task") <= baseThreads, 5000);
        QTest::qWait(50); // the simulator deletes its side of the last socket later
        QVERIFY2(entriesIn("/proc/self/fd") <= baseFds, "descriptors leak");
        // Heap pages that malloc keeps after a free are not a leak; a leak of
        // even one link's socket buffers per session would exceed 2 MiB.
        // AddressSanitizer holds freed memory in quarantine, so there the
        // resident size says nothing about leaks.
#ifndef __SANITIZE_ADDRESS__
        const qint64 grown = residentBytes() - baseResident;
        QVERIFY2(grown < 2 * 1024 * 1024, qPrintable(QString("resident memory grew by %1 bytes").arg(grown)));
#else
        Q_UNUSED(baseResident)
#endif
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_faults.moc"
