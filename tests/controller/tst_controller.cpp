// The controller layer against embedded simulated controllers: request
// order, parallel controllers, coalesced status polls, busy/cancel/close, the
// stop retry and the trigger capability taken from the identification.

#include "With.h"

#include "Simulator.h"
#include "controller/Controller.h"
#include "controller/FutureCallback.h"
#include "link/TcpClient.h"

#include <QtTest>

#include <memory>
#include <thread>

Q_DECLARE_METATYPE(SimFaults)

namespace {

std::unique_ptr<Controller> controllerFor(const Simulator &sim, int i)
{
    auto link = std::make_unique<TcpClient>();
    link->initialize(QStringLiteral("127.0.0.1"), sim.port(i));
    return std::make_unique<Controller>(std::move(link));
}

// Waits for a future without blocking the event loop.
template<typename T>
bool finishes(const QFuture<T> &future, int ms = 15000)
{
    return QTest::qWaitFor([&] { return future.isFinished(); }, ms);
}

int count(const QList<QByteArray> &log, const QByteArray &code)
{
    int n = 0;
    for (const QByteArray &command : log)
        n += command.startsWith(code);
    return n;
}

QByteArray labelCommand(const QString &label)
{
    return "SLA" + Protocol::labelArguments(label);
}

} // namespace

class ControllerTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Simulator> sim;

    // A simulator serving `n` controllers and the first one's controller, identified.
    std::unique_ptr<Controller> identified(int n = 1, const SimConfig &config = SimConfig())
    {
        sim = std::make_unique<Simulator>();
        sim->setDefaultConfig(config);
        if (!sim->start(0, n))
            return nullptr;
        auto controller = controllerFor(*sim, 0);
        const QFuture<ControllerIdentity> id = controller->openAndIdentify(5000);
        if (!finishes(id) || !id.result().valid)
            return nullptr;
        sim->clearCommandLog(0);
        return controller;
    }

private slots:
    void cleanup() { sim.reset(); }

    // Requests made at once from the user-interface thread and two other
    // threads run one at a time, each thread's in the order it made them:
    // every sequence is contiguous in the controller's command log.
    void requestsKeepOrderAndNeverInterleave()
    {
        auto controller = identified();
        QVERIFY(controller);
        constexpr int perThread = 12;
        auto issue = [&](int thread) {
            for (int j = 0; j < perThread; ++j) {
                const QString a = QStringLiteral("t%1c%2a").arg(thread).arg(j);
                const QString b = QStringLiteral("t%1c%2b").arg(thread).arg(j);
                switch (j % 4) {
                case 0: // a compound sequence, bracketed by its own marks
                    controller->request([a, b, j](Connection &link) {
                        LinkSequences::sendLabel(link, a);
                        LinkSequences::readStatus(link);
                        LinkSequences::switchStabilization(link, 1 + j % 2, true);
                        LinkSequences::sendLabel(link, b);
                    });
                    break;
                case 1:
                    controller->sendLabel(a);
                    break;
                case 2:
                    controller->identify();
                    break;
                default:
                    controller->switchStabilization(2, false);
                    break;
                }
                if (thread == 0)
                    controller->pollStatus();
            }
        };
        std::thread first(issue, 1), second(issue, 2);
        issue(0);
        first.join();
        second.join();
        // The request queued last finishes last.
        QVERIFY(finishes(controller->request([](Connection &) {}), 60000));

        // Walk the log: marks open a compound sequence that must follow
        // exactly; every identification is two stops and GID; single
        // commands stand alone. Marks give each thread's order.
        const QList<QByteArray> log = sim->commandLog(0);
        QVector<QList<int>> order(3);
        for (int i = 0; i < log.size();) {
            const QByteArray &command = log[i];
            if (command.startsWith("SLA")) {
                const QString label = QString::fromLatin1(command.mid(3, Protocol::labelLength)).trimmed();
                const int thread = label.mid(1, 1).toInt();
                const int j = label.mid(3, label.size() - 4).toInt();
                QVERIFY2(thread >= 0, command.constData());
                QVERIFY2(thread < 3, command.constData());
                order[thread] << j;
                if (j % 4 == 0) {
                    QVERIFY2(i + 3 < log.size(), "compound sequence cut short");
                    QCOMPARE(log[i + 1], QByteArray("GSF;"));
                    QVERIFY(log[i + 2].startsWith("SEA"));
                    QCOMPARE(log[i + 3], labelCommand(label.left(label.size() - 1) + 'b'));
                    i += 4;
                } else {
                    ++i;
                }
            } else if (command == "CLS;") {
                QVERIFY2(i + 2 < log.size(), "identification cut short");
                QCOMPARE(log[i + 1], QByteArray("CLS;"));
                QCOMPARE(log[i + 2], QByteArray("GID;"));
                i += 3;
            } else {
                QVERIFY2(command == "GSF;" || command.startsWith("CEA"), command.constData());
                ++i;
            }
        }
        QList<int> expected;
        for (int j = 0; j < perThread; ++j)
            if (j % 4 < 2)
                expected << j;
        for (int thread = 0; thread < 3; ++thread)
            QCOMPARE(order[thread], expected);
        QCOMPARE(count(log, "GID"), 3 * perThread / 4);
        QCOMPARE(count(log, "CEA"), 3 * perThread / 4);
    }

    // A controller whose replies come 700 ms late holds up only itself.
    void controllersProceedInParallel()
    {
        auto slow = identified(2);
        QVERIFY(slow);
        auto fast = controllerFor(*sim, 1);
        const QFuture<ControllerIdentity> id = fast->openAndIdentify(5000);
        QVERIFY(finishes(id));
        QVERIFY(id.result().valid);
        sim->setFaults(0, with<SimFaults>([](SimFaults &f) { f.delayMs = 700; }));
        QStringList finished;
        // Four late exchanges: the slow controller is busy for seconds.
        whenReady(slow->request([](Connection &link) {
            for (int i = 0; i < 4; ++i)
                LinkSequences::readStatus(link);
            return true;
        }), this, [&](bool) { finished << "slow"; });
        whenReady(fast->pollStatus(), this, [&](Protocol::StatusFlags flags) {
            finished << (flags.valid ? "fast" : "fast without status");
        });
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 30000);
        QCOMPARE(finished, QStringList({"fast", "slow"}));
    }

    // Polls while one is outstanding are not sent and do not make the
    // controller busy; other requests report busy and then idle; cancel
    // stops an identification before GID; close reports closed().
    void pollingBusyCancelAndClose()
    {
        auto controller = identified();
        QVERIFY(controller);
        sim->setFaults(0, with<SimFaults>([](SimFaults &f) { f.silentCodes = {"GSF"}; }));
        const QFuture<Protocol::StatusFlags> first = controller->pollStatus();
        for (int i = 0; i < 5 && !first.isFinished(); ++i) {
            QVERIFY(controller->pollStatus() == first);
            QVERIFY(!controller->isBusy());
            QTest::qWait(10);
        }
        QVERIFY(finishes(first));
        QVERIFY(!first.result().valid);
        QCOMPARE(count(sim->commandLog(0), "GSF"), 1);
        // Once it timed out, the next poll goes out.
        QVERIFY(finishes(controller->pollStatus()));
        QCOMPARE(count(sim->commandLog(0), "GSF"), 2);

        QSignalSpy busy(controller.get(), &Controller::busyChanged);
        QVERIFY(finishes(controller->sendLabel(QStringLiteral("busy"))));
        QTRY_VERIFY(busy.size() >= 2);
        QCOMPARE(busy.first().at(0).toBool(), true);
        QCOMPARE(busy.last().at(0).toBool(), false);
        QVERIFY(!controller->isBusy());

        // A controller that does not answer the stop: cancelled while it
        // waits for the first one, no GID follows.
        sim->setFaults(0, with<SimFaults>([](SimFaults &f) { f.silentCodes = {"CLS"}; }));
        sim->clearCommandLog(0);
        const QFuture<ControllerIdentity> id = controller->openAndIdentify(5000);
        QTRY_VERIFY(count(sim->commandLog(0), "CLS") >= 1);
        controller->cancel();
        QVERIFY(finishes(id));
        QVERIFY(!id.result().valid);
        QCOMPARE(count(sim->commandLog(0), "GID"), 0);
        // Requests made after the cancel run normally.
        sim->setFaults(0, SimFaults());
        QVERIFY(finishes(controller->identify()));
        QCOMPARE(count(sim->commandLog(0), "GID"), 1);

        QSignalSpy closed(controller.get(), &Controller::closed);
        controller->close();
        QTRY_COMPARE(closed.size(), 1);
        QVERIFY(!controller->link().isRunning());
        controller.reset();
    }

    // The stop is sent once more when its reply is not a good one.
    void stopIsRetriedUnlessAnswered_data()
    {
        QTest::addColumn<SimFaults>("faults");
        QTest::addColumn<int>("stops");
        QTest::newRow("answered") << SimFaults() << 1;
        QTest::newRow("dropped") << with<SimFaults>([](SimFaults &f) { f.dropEvery = 1; }) << 2;
        QTest::newRow("refused") << with<SimFaults>([](SimFaults &f) { f.refuseCodes = {"CLS"}; }) << 2;
    }
    void stopIsRetriedUnlessAnswered()
    {
        QFETCH(SimFaults, faults);
        QFETCH(int, stops);
        auto controller = identified();
        QVERIFY(controller);
        sim->setFaults(0, faults);
        QVERIFY(finishes(controller->stopStream()));
        QList<QByteArray> expected;
        for (int i = 0; i < stops; ++i)
            expected << "CLS;";
        QCOMPARE(sim->commandLog(0), expected);
    }

    // Trigger capable only with 'A' exactly at reply byte 10.
    void triggerCapabilityFromIdentification_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("capable");
        QTest::addColumn<bool>("fromController"); // also identify a controller that answers so
        const QByteArray head("\x00;", 2);
        QTest::newRow("A at 10") << head + "ORX-BS2-A-V31-SIM000;" << true << true;
        QTest::newRow("N at 10") << head + "ORX-BS2-N-V31-SIM000;" << false << true;
        QTest::newRow("A at 9") << head + "ORX-BS2A--V31-SIM000;" << false << false;
        QTest::newRow("A at 11") << head + "ORX-BS2--A-V31-SIM000;" << false << false;
        QTest::newRow("A beyond the reply") << head + "ORX-BS2-" << false << false;
    }
    void triggerCapabilityFromIdentification()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, capable);
        QFETCH(bool, fromController);
        QCOMPARE(parseIdentification(reply).triggerCapable, capable);
        if (fromController) {
            auto controller = identified(1, with<SimConfig>([&](SimConfig &c) { c.triggerCapable = capable; }));
            QVERIFY(controller);
            QCOMPARE(controller->link().triggerCapable(), capable);
        }
    }
};

QTEST_GUILESS_MAIN(ControllerTest)
#include "tst_controller.moc"
