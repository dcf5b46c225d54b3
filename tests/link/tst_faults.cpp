// A simulated controller that stalls, closes or is slow; many sessions in a row.

#include "SimulatorLink.h"
#include "With.h"

#include <QSemaphore>

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
        createTrigger(), setLinkState(Connected), gate.acquire();
        exec(), destroyTrigger(), threadBodyFinished();
    }
};

static int entriesIn(const QString &path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size();
}

class FaultsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Simulator> sim;

    // The reply to a command sent with the given sender, "none" on failure.
    static QByteArray ask(Connection &link, const std::function<void(Connection &)> &send)
    {
        send(link);
        QByteArray reply;
        return link.waitForReply(reply) ? reply : QByteArray("none");
    }
    static QByteArray status(Connection &link) { return ask(link, [](Connection &c) { c.getStatusFlags(); }); }
    static QByteArray stop(Connection &link) { return ask(link, [](Connection &c) { c.clearLiveStream(); }); }

private slots:
    void init() { sim = std::make_unique<Simulator>(); }
    void cleanup() { sim.reset(); }

    // The stop is written, its wait ends; only a confirmed one ends the stream.
    void stalledControllerNeverHangsTheLink()
    {
        for (bool stopAnswered : {true, false}) {
            sim = std::make_unique<Simulator>();
            auto link = benchLink(*sim);
            QVERIFY(link);
            QVERIFY(startStream(*link));
            QVector<StreamSample> samples = takeFor(*link, 300);
            sim->setFaults(0, with<SimFaults>([&](auto &f) { f.stallStream = true, f.dropEvery = !stopAnswered; }));
            samples += takeFor(*link, 300);
            QVERIFY(samples.size() > 50);
            QVERIFY(isComplete(samples));
            QVERIFY(link->isStreaming());
            sim->clearCommandLog(0);
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(stop(*link), stopAnswered ? goodReply : QByteArray("none"));
            QVERIFY2(timer.elapsed() < 2 * link->baseTimeout() + 3000, "stop and reply wait hang");
            QVERIFY(sim->commandLog(0).contains("CLS;"));
            QCOMPARE(link->isStreaming(), !stopAnswered);
            QCOMPARE(takeAll(*link).size(), stopAnswered ? 1 : 0); // the last message
            QVERIFY(link->disconnectLink());
        }
    }

    void controllerClosingMidStreamKeepsReceivedSamples()
    {
        auto link = benchLink(*sim, with<SimFaults>([](auto &f) { f.closeAfterMs = 800; }));
        QVERIFY(link);
        const auto reported = watchDisconnects(*link, this);
        QVERIFY(startStream(*link));
        // Nobody takes samples until the link has ended: 800 ms fit the store.
        QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 10000);
        QTest::qWait(200); // room for a second notice, which must not come
        QCOMPARE(*reported, QStringList{"127.0.0.1"});
        const QVector<StreamSample> samples = takeAll(*link);
        QVERIFY(samples.size() > 100);
        QVERIFY(isComplete(samples));
        QCOMPARE(samples.size(), int(sim->counters(0).streamMessagesSent) - 1);
        QCOMPARE(status(*link), QByteArray("none")); // a command on the ended link fails
    }

    // A lost command left the handled-command count behind for good, and every
    // later wait (stop post, reply wait) ran into its 1.5 s deadline.
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
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 10; ++i)
            QCOMPARE(stop(link), QByteArray("none")); // no device: dropped
        QVERIFY2(timer.elapsed() < 10 * link.baseTimeout(), qPrintable(QString::number(timer.elapsed())));
        QVERIFY(link.disconnectLink());
    }

    // The stop after an unanswered start (plain, variant M, trigger) goes out; commands work again.
    void unansweredStreamStartIsGivenUp()
    {
        for (const QByteArray code : {"SLS", "SGS", "SPS"}) {
            sim = std::make_unique<Simulator>();
            auto link = benchLink(*sim, with<SimFaults>([&](auto &f) { f.silentCodes = {code}; }),
                                  with<SimConfig>([&](auto &c) { c.variantM = code == "SGS"; }));
            QVERIFY2(link, code);
            link->setTriggerMode(code == "SPS");
            QVERIFY(!startStream(*link));
            QVERIFY(!link->isStreaming());
            sim->clearCommandLog(0);
            QCOMPARE(stop(*link), goodReply);
            QCOMPARE(sim->commandLog(0), QList<QByteArray>{"CLS;"});
            QCOMPARE(status(*link).left(2), goodReply);
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
            sim->setFaults(0, with<SimFaults>([](auto &f) { f.replyDelayByPrefix = {{QByteArray("GIN\x01", 4), 1700}}; }));
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

    // Every reply 400 or 600 ms late, within the base time-out: identification with its two stops works.
    void repliesCountFromTheWrite()
    {
        for (int delay : {400, 600}) {
            sim = std::make_unique<Simulator>();
            auto link = connectToSimulator(*sim, SimConfig(), with<SimFaults>([&](auto &f) { f.delayMs = delay; }));
            QVERIFY(link);
            QCOMPARE(identifyController(*link).controllerId.toLatin1(), sim->identification(0));
            QCOMPARE(sim->commandLog(0), (QList<QByteArray>{"CLS;", "CLS;", "GID;"}));
        }
    }

    // Junk follows every reply a few ms later, while the caller may be copying the reply (a data
    // race for ThreadSanitizer). The next command goes out after the junk, which would look like a reply.
    void bytesNobodyAskedForLeaveTheReplyAlone()
    {
        for (int collectAfterMs : {0, 100}) {
            sim = std::make_unique<Simulator>();
            auto link = benchLink(*sim);
            QVERIFY(link);
            const QByteArray one("\x01;", 2), expected = ask(*link, [&](Connection &c) { c.getPFactor(one); });
            QCOMPARE(expected.size(), 5);
            sim->setFaults(0, with<SimFaults>([](auto &f) { f.trailingJunk = 5; }));
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

    // Firmware 11 and later: the flagged last message lost, the bare acknowledgement confirms the stop.
    void stopConfirmedWhenTheLastMessageIsLost()
    {
        auto link = benchLink(*sim, with<SimFaults>([](auto &f) { f.loseLastMessage = true; }));
        QVERIFY(link);
        QVERIFY(link->firmwareVersion() >= 11);
        QVERIFY(startStream(*link));
        QByteArray reply;
        const QVector<StreamSample> samples = takeAndStop(*link, 300, reply);
        QVERIFY(reply == goodReply);
        QVERIFY(!link->isStreaming());
        QVERIFY(!samples.isEmpty());
        QVERIFY(isComplete(samples));
        QCOMPARE(status(*link).left(2), goodReply);
    }

    void repeatedSessionsLeakNothing()
    {
        auto session = [this] {
            auto link = benchLink(*sim);
            QVERIFY(link);
            QVERIFY(startStream(*link));
            QByteArray reply;
            const QVector<StreamSample> samples = takeAndStop(*link, 50, reply);
            QVERIFY(reply == goodReply);
            QVERIFY(!samples.isEmpty());
            QVERIFY(isComplete(samples));
            QVERIFY(link->disconnectLink());
        };
        // The first session creates the process's one-time state.
        session();
        QTest::qWait(100);
        const int baseThreads = entriesIn("/proc/self/task"), baseFds = entriesIn("/proc/self/fd");
        for (int cycle = 1; cycle < 100 && !QTest::currentTestFailed(); ++cycle)
            session();
        QTRY_VERIFY_WITH_TIMEOUT(entriesIn("/proc/self/task") <= baseThreads, 5000);
        QTest::qWait(50); // the simulator deletes its side of the last socket later
        QVERIFY2(entriesIn("/proc/self/fd") <= baseFds, "descriptors leak");
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_faults.moc"
