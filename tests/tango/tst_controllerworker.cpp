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
};

QTEST_GUILESS_MAIN(ControllerWorkerTest)
#include "tst_controllerworker.moc"
