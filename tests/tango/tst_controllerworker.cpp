// The device server's link worker against the embedded simulator: the
// lifecycle a facility relies on when nobody watches (stall, loss and
// automatic reconnection) and requests that must not reach the controller.

#include "ControllerWorker.h"
#include "Simulator.h"

#include <QtTest>

namespace {

using Link = ControllerSnapshot::Link;

ControllerOptions optionsFor(quint16 port)
{
    ControllerOptions o;
    o.address = "127.0.0.1", o.portOrBaud = port, o.samplingRate = 200, o.reconnectIntervalMs = 1000;
    o.setupFile = "/nonexistent/ConnectionSetup.xml"; // defaults: volts
    return o;
}

bool sent(const Simulator &sim, const QByteArray &code)
{
    const QList<QByteArray> log = sim.commandLog(0);
    return std::any_of(log.begin(), log.end(), [&code](const QByteArray &c) { return c.startsWith(code); });
}

} // namespace

class ControllerWorkerTest : public QObject
{
    Q_OBJECT

private slots:
    // Stalled stream -> FAULT; controller gone -> FAULT; controller back ->
    // reconnected on its own and the stream that was running restarted.
    void faultsAndAutomaticReconnection()
    {
        Simulator sim;
        QVERIFY(sim.start(0, 1));
        const quint16 port = sim.port(0);
        ControllerWorker worker(optionsFor(port));
        int stateChanges = 0;
        worker.setPeriodHandler([&](const ControllerSnapshot &, bool had) { stateChanges += had ? 0 : 1; });
        worker.start();
        QTRY_COMPARE_WITH_TIMEOUT(int(worker.snapshot().link), int(Link::Idle), 15000);
        QVERIFY(worker.request(ControllerWorker::Action::Start).ok && worker.snapshot().link == Link::Streaming);
        QTRY_VERIFY_WITH_TIMEOUT(worker.snapshot().received > 100, 10000);

        SimFaults stall;
        stall.stallStream = true;
        sim.setFaults(0, stall);
        QTRY_COMPARE_WITH_TIMEOUT(int(worker.snapshot().link), int(Link::Fault), 10000);
        QVERIFY2(worker.snapshot().statusText.startsWith("No stream data"), qPrintable(worker.snapshot().statusText));

        sim.setFaults(0, SimFaults());
        QTRY_COMPARE_WITH_TIMEOUT(int(worker.snapshot().link), int(Link::Streaming), 20000);
        const qint64 before = worker.snapshot().received;
        QTRY_VERIFY_WITH_TIMEOUT(worker.snapshot().received > before + 100, 10000);

        sim.stop();
        QTRY_COMPARE_WITH_TIMEOUT(int(worker.snapshot().link), int(Link::Fault), 5000);
        QVERIFY(!worker.request(ControllerWorker::Action::StabilizationOn, 1).ok);
        QVERIFY(sim.start(port, 1));
        QTRY_COMPARE_WITH_TIMEOUT(int(worker.snapshot().link), int(Link::Streaming), 20000);
        // Each change was handed to the event side.
        QVERIFY(stateChanges >= 5 && worker.snapshot().lost == 0);
        worker.shutdown();
    }

    // Requests with a stage or value the controller cannot take are refused
    // by the worker and never sent.
    void invalidRequestsNeverReachTheController()
    {
        Simulator sim;
        QVERIFY(sim.start(0, 1));
        ControllerWorker worker(optionsFor(sim.port(0)));
        worker.start();
        QTRY_COMPARE_WITH_TIMEOUT(int(worker.snapshot().link), int(Link::Idle), 15000);
        sim.clearCommandLog(0);
        using A = ControllerWorker::Action;
        const struct { A action; int stage; int value; const char *code; } cases[] = {
            {A::StabilizationOn, 0, 0, "SEA"}, {A::StabilizationOff, 3, 0, "CEA"}, {A::SetPFactor, 1, 70000, "SPF"},
            {A::SetPFactor, 2, -1, "SPF"}, {A::SetSamplingRate, 0, 0, "SLS"}, {A::SetSamplingRate, 0, 501, "SLS"}};
        for (const auto &c : cases) {
            const RequestResult r = worker.request(c.action, c.stage, c.value);
            QVERIFY2(!r.ok && !r.message.isEmpty() && !sent(sim, c.code), c.code);
        }
        // A valid one does reach it, and its value is shown.
        QVERIFY(worker.request(A::SetPFactor, 2, 321).ok && sent(sim, QByteArray("SPF\x02\x01\x41;", 7)));
        QCOMPARE(worker.snapshot().pFactor[1], 321);
        worker.shutdown();
    }

    // A requested reconnection is no fault: the link goes through
    // Connecting ("Reconnecting to ...") straight back to Idle. Rates set
    // meanwhile take effect without the link: the next start uses the
    // sampling rate, and values out of range are refused.
    void reconnectionAndSettings()
    {
        Simulator sim;
        QVERIFY(sim.start(0, 1));
        ControllerWorker worker(optionsFor(sim.port(0)));
        QMutex seenLock;
        QList<QPair<Link, QString>> seen;
        worker.setPeriodHandler([&](const ControllerSnapshot &s, bool had) {
            QMutexLocker locker(&seenLock);
            if (!had)
                seen.append({s.link, s.statusText});
        });
        worker.start();
        QTRY_COMPARE_WITH_TIMEOUT(int(worker.snapshot().link), int(Link::Idle), 15000);
        SimFaults slow;
        slow.replyDelayByPrefix.insert("GID", 300); // identification takes a while
        sim.setFaults(0, slow);
        {
            QMutexLocker locker(&seenLock);
            seen.clear();
        }
        QVERIFY(worker.request(ControllerWorker::Action::Reconnect).ok);
        const QString expected = QString("Reconnecting to 127.0.0.1:%1").arg(sim.port(0));
        QCOMPARE(worker.snapshot().statusText, expected);
        QTRY_COMPARE_WITH_TIMEOUT(int(worker.snapshot().link), int(Link::Idle), 15000);
        {
            QMutexLocker locker(&seenLock);
            QCOMPARE(seen.size(), 2);
            QVERIFY(seen[0] == qMakePair(Link::Connecting, expected) && seen[1].first == Link::Idle);
        }

        bool restart = true;
        QString error;
        QVERIFY(worker.setSamplingRate(123, restart, error) && !restart && worker.snapshot().samplingRate == 123);
        QVERIFY(worker.setEventRate(2.5, error) && worker.snapshot().eventRate == 2.5);
        for (int bad : {0, 501})
            QVERIFY(!worker.setSamplingRate(bad, restart, error) && !error.isEmpty());
        for (double bad : {0.0, 100.5})
            QVERIFY(!worker.setEventRate(bad, error));
        QCOMPARE(worker.snapshot().samplingRate, 123);
        sim.clearCommandLog(0);
        QVERIFY(worker.request(ControllerWorker::Action::Start).ok);
        QVERIFY(sent(sim, QByteArray("SLS\0\0\0\x7b;", 8)));
        // While streaming a new rate restarts the stream at it.
        QVERIFY(worker.setSamplingRate(200, restart, error) && restart);
        QVERIFY(worker.request(ControllerWorker::Action::SetSamplingRate, 0, 200).ok);
        QVERIFY(sent(sim, QByteArray("SLS\0\0\0\xc8;", 8)));
        worker.shutdown();
    }
};

QTEST_GUILESS_MAIN(ControllerWorkerTest)
#include "tst_controllerworker.moc"
