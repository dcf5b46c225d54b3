// A simulated controller that stalls, closes or is slow; many sessions in a row.

#include "SimulatorLink.h"

#include "LogCapture.h"

#include <QSemaphore>

#include <unistd.h>

// A link without a device whose thread can be held before its event loop:
// a command posted then is still queued when the thread ends, and lost.
class GatedLink : public Connection
{
public:
    QSemaphore gate;
    ~GatedLink() override { stopLinkThread(); }
    QString address() const override { return QStringLiteral("gated"); }
    bool isTcp() const override { return false; }
    bool initialize(QString, int) override { return true; }
    int parameter() const override { return 0; }
    void resync() override {}
    void clearInput() override {}

protected:
    void run() override
    {
        createTrigger();
        setLinkState(Connected);
        gate.acquire();
        exec();
        destroyTrigger();
        threadBodyFinished();
    }
};

// The keep-alive timer of the established loopback connection to this
// port, in clock ticks ("" when its timer is not the keep-alive one).
static QString keepAliveTimer(quint16 remotePort)
{
    QFile table("/proc/net/tcp");
    if (!table.open(QIODevice::ReadOnly))
        return "no /proc/net/tcp";
    const QString remote = QString("0100007F:%1").arg(remotePort, 4, 16, QChar('0')).toUpper();
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QStringList f = QString::fromLatin1(line).simplified().split(' ');
        if (f.size() > 5 && f[2] == remote && f[3] == "01")
            return f[5].startsWith("02:") ? f[5].mid(3) : QString();
    }
    return "no connection";
}

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
    std::unique_ptr<LogCapture> log;

    // The reply to a command sent with the given sender, "none" on failure.
    static QByteArray ask(Connection &link, const std::function<void(Connection &)> &send)
    {
        send(link);
        QByteArray reply;
        return link.waitForReply(reply) ? reply : QByteArray("none");
    }


private slots:
    void initTestCase() { log = std::make_unique<LogCapture>(); }
    void init() { sim = std::make_unique<Simulator>(); }
    void cleanup() { sim.reset(); }

    // The stop is written, its wait ends; only a confirmed one ends the stream.
    void stalledControllerNeverHangsTheLink()
    {
        for (bool stopAnswered : {true, false}) {
            sim = std::make_unique<Simulator>();
            auto link = benchLink(*sim);
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
    }

    void controllerClosingMidStreamKeepsReceivedSamples()
    {
        SimFaults faults;
        faults.closeAfterMs = 800;
        auto link = benchLink(*sim, faults);
        QVERIFY(link);
        const auto reported = watchDisconnects(*link, this);
        QVERIFY(startStream(*link));
        // Nobody takes samples until the link has ended: 800 ms fit the store.
        QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 10000);
        QTest::qWait(200); // room for a second notice, which must not come
        QCOMPARE(*reported, QStringList{"127.0.0.1"});
        const QVector<StreamSample> samples = takeAll(*link);
        QVERIFY(samples.size() > 100 && isComplete(samples));
        QCOMPARE(samples.size(), int(sim->counters(0).streamMessagesSent) - 1);
        link->getStatusFlags(); // a command on the ended link fails at once
        QByteArray reply;
        QVERIFY(!link->waitForReply(reply));
    }

    // Problem: a lost command left the handled-command count behind for
    // good, and every later wait ran into its deadline.
    void restartAfterALostCommandKeepsWaitsShort()
    {
        GatedLink link;
        link.start();
        QTRY_COMPARE(link.linkState(), int(Connection::Connected));
        link.getStatusFlags(); // queued, never handled: the loop never runs
        link.exit(0);
        link.gate.release();
        QVERIFY(link.wait(10000));
        link.gate.release(); // the second run goes straight into its loop
        link.start();
        QTRY_COMPARE(link.linkState(), int(Connection::Connected));
        QTRY_VERIFY(link.isRunning());
        // Ten stops and reply waits; each of them ran into the 1.5 s
        // deadline twice (stop post, reply wait) while the count drifted.
        QElapsedTimer timer;
        timer.start();
        QByteArray reply;
        for (int i = 0; i < 10; ++i) {
            link.clearLiveStream();
            QVERIFY(!link.waitForReply(reply)); // no device: dropped
        }
        QVERIFY2(timer.elapsed() < 10 * link.baseTimeout(), qPrintable(QString::number(timer.elapsed())));
        QVERIFY(link.disconnectLink());
    }

    // The stop after an unanswered start (plain, variant M, trigger mode)
    // reaches the controller, is confirmed, and the link takes commands again.
    void unansweredStreamStartIsGivenUp()
    {
        for (const QByteArray code : {"SLS", "SGS", "SPS"}) {
            SimConfig config;
            config.variantM = code == "SGS";
            SimFaults faults;
            faults.silentCodes = {code};
            sim = std::make_unique<Simulator>();
            auto link = benchLink(*sim, faults, config);
            QVERIFY2(link, code);
            link->setTriggerMode(code == "SPS");
            QVERIFY(!startStream(*link));
            QVERIFY(!link->isStreaming());
            sim->clearCommandLog(0);
            link->clearLiveStream();
            QByteArray reply;
            QVERIFY(link->waitForReply(reply));
            QCOMPARE(reply, goodReply);
            QCOMPARE(sim->commandLog(0), QList<QByteArray>{"CLS;"});
            QCOMPARE(ask(*link, [](Connection &c) { c.getStatusFlags(); }).left(2), goodReply);
        }
    }

    // Intensity of stage 1 answered 1.7 s late: an error for it, and every
    // later command (sent at once, or after the late reply) gets its own reply, byte for byte.
    void lateReplyNeverAnswersTheNextCommand()
    {
        for (bool waitForTheLateReply : {false, true}) {
            sim = std::make_unique<Simulator>();
            auto link = benchLink(*sim);
            QVERIFY(link);
            const QByteArray one("\x01;", 2), two("\x02;", 2);
            auto pFactor = [&](Connection &c) { c.getPFactor(one); };
            auto sensitivity = [&](Connection &c) { c.getDetectorSensitivity(two); };
            auto active = [](Connection &c) { c.getActiveSignal(); };
            const QByteArray expected = ask(*link, pFactor) + ask(*link, sensitivity) + ask(*link, active);
            QCOMPARE(expected.size(), 15);
            SimFaults late;
            late.replyDelayByPrefix = {{QByteArray("GIN\x01", 4), 1700}};
            sim->setFaults(0, late);
            const qint64 sentBefore = sim->counters(0).messagesSent;
            QCOMPARE(ask(*link, [&](Connection &c) { c.getIntensity(one); }), QByteArray("none"));
            if (waitForTheLateReply) {
                QTRY_VERIFY_WITH_TIMEOUT(sim->counters(0).messagesSent > sentBefore, 10000);
                QTest::qWait(100);
                QByteArray reply;
                QVERIFY(!link->waitForReply(reply)); // nothing was asked since
                QVERIFY(reply.isEmpty());
            }
            QCOMPARE(ask(*link, pFactor) + ask(*link, sensitivity) + ask(*link, active), expected);
        }
    }

    // Every reply 400 or 600 ms late, but within the base time-out: the
    // whole identification, with its two stops, still works.
    void repliesCountFromTheWrite()
    {
        for (int delay : {400, 600}) {
            SimFaults slow;
            slow.delayMs = delay;
            sim = std::make_unique<Simulator>();
            auto link = connectToSimulator(*sim, SimConfig(), slow);
            QVERIFY(link);
            const ControllerIdentity identity = identifyController(*link);
            QVERIFY(identity.valid);
            QCOMPARE(identity.controllerId.toLatin1(), sim->identification(0));
            QCOMPARE(sim->commandLog(0), (QList<QByteArray>{"CLS;", "CLS;", "GID;"}));
        }
    }

    // Junk follows every reply a few ms later, while the caller may be
    // copying the reply (ThreadSanitizer watches that copy), collected at
    // once or after the junk. The next command goes out after the junk:
    // nothing could tell junk that comes after a write from a reply.
    void bytesNobodyAskedForLeaveTheReplyAlone()
    {
        for (int collectAfterMs : {0, 100}) {
            sim = std::make_unique<Simulator>();
            auto link = benchLink(*sim);
            QVERIFY(link);
            const QByteArray one("\x01;", 2);
            const QByteArray expected = ask(*link, [&](Connection &c) { c.getPFactor(one); });
            QCOMPARE(expected.size(), 5);
            SimFaults junk;
            junk.trailingJunk = 5;
            sim->setFaults(0, junk);
            for (int i = 0; i < 4 && !QTest::currentTestFailed(); ++i) {
                link->getPFactor(one);
                QThread::msleep(collectAfterMs);
                QByteArray reply;
                QVERIFY(link->waitForReply(reply));
                QCOMPARE(reply, expected);
                QTest::qWait(100);
            }
        }
    }

    // Firmware 11 and later: the flagged last message lost, the bare
    // acknowledgement confirms the stop.
    void stopConfirmedWhenTheLastMessageIsLost()
    {
        SimFaults faults;
        faults.loseLastMessage = true;
        auto link = benchLink(*sim, faults);
        QVERIFY(link && link->firmwareVersion() >= 11);
        QVERIFY(startStream(*link));
        QByteArray reply;
        const QVector<StreamSample> samples = takeAndStop(*link, 300, reply);
        QCOMPARE(reply, goodReply);
        QVERIFY(!link->isStreaming());
        QVERIFY(!samples.isEmpty() && isComplete(samples));
        QCOMPARE(ask(*link, [](Connection &c) { c.getStatusFlags(); }).left(2), goodReply);
    }

    // The closing log line carries the label set from the user-interface
    // thread (read under its lock in the link thread); the TCP socket has
    // its keep-alive timer running.
    void labelAndKeepAliveOfATcpLink()
    {
        auto link = benchLink(*sim);
        QVERIFY(link);
        link->setLabel("Bench_7");
        QTRY_VERIFY(!keepAliveTimer(sim->port(0)).isEmpty());
        bool ok = false;
        const int ticks = keepAliveTimer(sim->port(0)).toInt(&ok, 16);
        QVERIFY2(ok && ticks <= 10 * 100, qPrintable(keepAliveTimer(sim->port(0))));
        log->clear();
        QVERIFY(link->disconnectLink());
        QVERIFY(log->contains("Closing connection Bench_7"));
    }

    void repeatedSessionsLeakNothing()
    {
        auto session = [this] {
            auto link = benchLink(*sim);
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
