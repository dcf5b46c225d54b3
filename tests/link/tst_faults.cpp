// The link under controller faults, against the embedded simulator in
// benchmark mode (every stream message carries its sequence number): garbage
// in the stream, a controller that stalls, one that closes the connection,
// one that answers slowly, and many short sessions in a row. Each case checks
// that nothing that could be kept is lost and that nothing hangs; the time
// limits are hang guards only.

#include "LinkTestUtil.h"

#include "Simulator.h"
#include "link/Identification.h"
#include "link/TcpClient.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <unistd.h>

#include <atomic>
#include <memory>

namespace {

constexpr qint64 hangGuardMs = 3000; // slack on top of a documented wait

// True when the samples carry exactly the sequence numbers 1, 2, ..., n.
bool isComplete(const QVector<StreamSample> &samples)
{
    for (int i = 0; i < samples.size(); ++i)
        if (((quint32(quint16(samples[i].rangeX2)) << 16) | quint16(samples[i].rangeY2)) != quint32(i + 1))
            return false;
    return true;
}

QVector<StreamSample> takeAll(Connection &link)
{
    QVector<StreamSample> samples;
    takeAll(link, samples);
    return samples;
}

int entriesIn(const QString &path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size();
}

qint64 residentBytes()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : -1;
}

} // namespace

class FaultsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Simulator> sim;

    // A connected, identified link to the simulator, which the first call
    // starts in benchmark mode (sequence numbers in the stream) with the
    // given faults. Only "GID;" is sent: the stop attempts of the full
    // identification wait 1.1 s each for nothing here.
    std::unique_ptr<TcpClient> connectAndIdentify(const SimFaults &faults = SimFaults())
    {
        SimConfig config;
        config.bench = true;
        sim->setDefaultConfig(config);
        sim->setDefaultFaults(faults);
        if (sim->count() == 0 && !sim->start(0, 1))
            return nullptr;
        auto link = std::make_unique<TcpClient>();
        if (!link->initialize("127.0.0.1", sim->port(0)))
            return nullptr;
        link->start();
        if (!waitUntilConnected(*link) || !identifyController(*link, 0).valid)
            return nullptr;
        return link;
    }

private slots:
    void init() { sim = std::make_unique<Simulator>(); }
    void cleanup() { sim.reset(); }

    void garbageBetweenMessagesLosesNoIntactMessage_data()
    {
        QTest::addColumn<int>("every");
        QTest::addColumn<int>("bytes");
        QTest::newRow("3 bytes after every message") << 1 << 3;
        QTest::newRow("20 bytes after every 3rd message") << 3 << 20;
    }
    void garbageBetweenMessagesLosesNoIntactMessage()
    {
        QFETCH(int, every);
        QFETCH(int, bytes);
        SimFaults faults;
        faults.garbageEvery = every;
        faults.garbageBytes = bytes;
        auto link = connectAndIdentify(faults);
        QVERIFY(link);
        QVERIFY(startStream(*link));
        QByteArray reply;
        const QVector<StreamSample> samples = takeAndStop(*link, 800, reply);
        QCOMPARE(reply, goodReply);

        // Every message after the start reply, the last one included, in
        // order and once: garbage never costs an intact message.
        QVERIFY(isComplete(samples));
        QCOMPARE(samples.size(), int(sim->counters(0).streamMessagesSent) - 1);
        QVERIFY(samples.size() > 100);
        QVERIFY(link->resynchronisations() > 0);
    }

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
        QVERIFY(link);
        QVERIFY(startStream(*link));
        QVector<StreamSample> samples;
        takeFor(*link, 300, samples);
        SimFaults stall;
        stall.stallStream = true;
        stall.dropEvery = stopAnswered ? 0 : 1;
        sim->setFaults(0, stall);
        takeFor(*link, 300, samples);
        QVERIFY(isComplete(samples));
        QVERIFY(samples.size() > 50);
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
        std::atomic<int> notices{0};
        QString reportedAddress;
        connect(link.get(), &Connection::hostDisconnected, link.get(),
                [&](const QString &address) {
                    reportedAddress = address;
                    ++notices;
                },
                Qt::DirectConnection);
        QVERIFY(startStream(*link));
        // Nobody takes samples until the link has ended: 800 ms at 500 Hz
        // fit into the store.
        QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 10000);
        QTest::qWait(200); // room for a second notice, which must not come
        QCOMPARE(notices.load(), 1);
        QCOMPARE(reportedAddress, QString("127.0.0.1"));

        const QVector<StreamSample> samples = takeAll(*link);
        QVERIFY(isComplete(samples));
        QCOMPARE(samples.size(), int(sim->counters(0).streamMessagesSent) - 1);
        QVERIFY(samples.size() > 100);

        // A command on the ended link fails at once instead of waiting.
        link->getStatusFlags();
        QByteArray reply;
        QVERIFY(!link->waitForReply(reply));
        QVERIFY(link->disconnectLink());
    }

    void slowRepliesArriveOrTimeOutCleanly_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("answered");
        QTest::newRow("300 ms, within the reply wait") << 300 << true;
        QTest::newRow("2200 ms, beyond the reply wait") << 2200 << false;
    }
    void slowRepliesArriveOrTimeOutCleanly()
    {
        QFETCH(int, delayMs);
        QFETCH(bool, answered);
        auto link = connectAndIdentify();
        QVERIFY(link);
        SimFaults slow;
        slow.delayMs = delayMs;
        sim->setFaults(0, slow);
        const qint64 sentBefore = sim->counters(0).messagesSent;

        QElapsedTimer timer;
        timer.start();
        link->getStatusFlags();
        QByteArray reply;
        QCOMPARE(link->waitForReply(reply), answered);
        QVERIFY2(timer.elapsed() < 2 * link->baseTimeout() + hangGuardMs, "reply wait hangs");
        QCOMPARE(reply.size(), answered ? 4 : 0);
        if (answered)
            return;
        // The late reply is dropped, not taken for the next command's answer.
        QTRY_VERIFY_WITH_TIMEOUT(sim->counters(0).messagesSent > sentBefore, 10000);
        QTest::qWait(100);
        sim->setFaults(0, SimFaults());
        link->getActiveSignal();
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply.size(), 5);
        QCOMPARE(reply.left(2), goodReply);
    }

    void repeatedSessionsLeakNothing()
    {
        auto session = [this](int cycle) {
            auto link = connectAndIdentify();
            QVERIFY2(link && startStream(*link), qPrintable(QString("cycle %1: no stream").arg(cycle)));
            QByteArray reply;
            const QVector<StreamSample> samples = takeAndStop(*link, 50, reply);
            QCOMPARE(reply, goodReply);
            QVERIFY(isComplete(samples));
            QVERIFY(!samples.isEmpty());
            QVERIFY(link->disconnectLink());
        };

        // The first session creates what stays for the process's lifetime
        // (the event dispatcher's and the network layer's one-time state).
        session(0);
        if (QTest::currentTestFailed())
            return;
        // The first link thread may still be on its way out; a baseline
        // taken too early is only higher, so "no growth" stays a fair check.
        QTest::qWait(100);
        const int baseThreads = entriesIn("/proc/self/task");
        const int baseFds = entriesIn("/proc/self/fd");
        const qint64 baseResident = residentBytes();

        for (int cycle = 1; cycle < 100 && !QTest::currentTestFailed(); ++cycle)
            session(cycle);
        if (QTest::currentTestFailed())
            return;
        // Counts settle once the last session's thread and socket are gone.
        QElapsedTimer timer;
        timer.start();
        while (entriesIn("/proc/self/task") > baseThreads && timer.elapsed() < 5000)
            QTest::qWait(10);
        QTest::qWait(50); // the simulator deletes its side of the last socket later

        const int threads = entriesIn("/proc/self/task");
        const int fds = entriesIn("/proc/self/fd");
        QVERIFY2(threads <= baseThreads, qPrintable(QString("threads %1 -> %2").arg(baseThreads).arg(threads)));
        QVERIFY2(fds <= baseFds, qPrintable(QString("descriptors %1 -> %2").arg(baseFds).arg(fds)));
        // Heap pages that malloc keeps after a free are not a leak; a leak of
        // even one link's socket buffers per session would exceed this.
        const qint64 slack = 2 * 1024 * 1024;
        const qint64 grown = residentBytes() - baseResident;
        QVERIFY2(grown < slack, qPrintable(QString("resident memory grew by %1 bytes").arg(grown)));
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_faults.moc"
