// The window as a view over its controllers: a slow or silent controller
// holds up neither the display tick nor the other controllers, a busy
// controller's stage buttons say so, and the requests to one controller
// reach the wire one after another. Judged by counts and order in the
// simulator's command logs, never by elapsed time.

#include "display/LiveDisplay.h"
#include "WindowFixture.h"

#include "controller/FutureCallback.h"
#include "display/StagePanel.h"

class WindowRequestsTest : public QObject
{
    Q_OBJECT

    static int count(const QStringList &codes, const char *code) { return codes.count(QLatin1String(code)); }

private slots:
    // Controller 0 answers at once, 1 answers 700 ms late, 2 never answers.
    void slowAndSilentControllersHoldUpNobody()
    {
        WindowFixture f;
        QVERIFY(f.connect(3));
        f.counter("counterUpdateRate")->setValue(20);
        SimFaults late;
        late.delayMs = 700;
        f.sim.setFaults(1, late);
        SimFaults silent;
        silent.dropEvery = 1;
        f.sim.setFaults(2, silent);
        for (int i = 0; i < 3; ++i)
            f.sim.clearCommandLog(i);
        const qint64 lateAnsweredBefore = f.sim.counters(1).messagesSent;

        int ticks = 0;
        int mostOutstanding = 0; // polls of the late controller not yet answered
        f.window->parts().live->setTickObserver([&](qint64, const DisplayTick::Result &) {
            const qint64 answered = f.sim.counters(1).messagesSent - lateAnsweredBefore;
            mostOutstanding = qMax<int>(mostOutstanding, count(f.codes(1), "GSF") - int(answered));
            ++ticks;
        });
        // Old behaviour: every tick waited 0.7 s + 1.5 s, so 60 ticks would
        // need over two minutes.
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 60, 60000);
        // A click on the active (healthy) controller goes out meanwhile.
        auto *button = f.widget<QPushButton>("push_Stab1");
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 10000);
        button->click();
        QTRY_VERIFY_WITH_TIMEOUT(count(f.codes(0), "SEA") == 1 && button->isEnabled(), 20000);
        f.window->parts().live->setTickObserver({});

        const int polled[3] = {count(f.codes(0), "GSF"), count(f.codes(1), "GSF"), count(f.codes(2), "GSF")};
        QVERIFY2(polled[0] * 2 >= ticks, qPrintable(QStringLiteral("%1 polls in %2 ticks").arg(polled[0]).arg(ticks)));
        QVERIFY2(polled[1] >= 1,
                 qPrintable(QStringLiteral("%1 polls, %2 outstanding").arg(polled[1]).arg(mostOutstanding)));
        QVERIFY2(polled[1] * 4 < ticks,
                 qPrintable(QStringLiteral("%1 polls, %2 outstanding").arg(polled[1]).arg(mostOutstanding)));
        QVERIFY2(mostOutstanding <= 1,
                 qPrintable(QStringLiteral("%1 polls, %2 outstanding").arg(polled[1]).arg(mostOutstanding)));
        QVERIFY2(polled[2] >= 1, qPrintable(QString::number(polled[2])));
        QVERIFY2(polled[2] * 4 < ticks, qPrintable(QString::number(polled[2])));
    }

    // A stage button command that takes 700 ms, and a stage switch of the
    // system configuration made meanwhile.
    void busyControllerDisablesStageButtonsAndRequestsQueue_data()
    {
        QTest::addColumn<bool>("streaming");
        QTest::addColumn<QString>("wire");
        QTest::newRow("idle") << false << "SEA SEA";
        QTest::newRow("streaming") << true << "CLS SEA SLS CLS SEA SLS";
    }
    void busyControllerDisablesStageButtonsAndRequestsQueue()
    {
        QFETCH(bool, streaming);
        QFETCH(QString, wire);
        WindowFixture f;
        QVERIFY(f.connect(1));
        if (streaming)
            QVERIFY(f.acquire(1, 100));
        SimFaults faults;
        faults.replyDelayByPrefix.insert("SEA", 700);
        f.sim.setFaults(0, faults);
        f.sim.clearCommandLog(0);

        auto *first = f.widget<QPushButton>("push_Stab1");
        auto *second = f.widget<QPushButton>("push_Stab2");
        QTRY_VERIFY_WITH_TIMEOUT(first->isEnabled(), 10000); // a stream start is over
        first->click();
        f.window->activeStage(simAddress(0), 2, true);
        const QString busy = StagePanel::busyText(QStringLiteral("SIM0"));
        QVERIFY(!first->isEnabled());
        QVERIFY(!second->isEnabled());
        QCOMPARE(second->toolTip() + '|' + second->accessibleDescription(), busy + '|' + busy);
        QTest::mouseClick(second, Qt::LeftButton); // disabled: nothing is sent
        QTRY_VERIFY_WITH_TIMEOUT(first->isEnabled() && second->isEnabled(), 20000);
        QVERIFY(second->toolTip().isEmpty());
        if (streaming)
            QTRY_VERIFY_WITH_TIMEOUT(f.sim.isStreaming(0), 5000);

        QStringList codes = f.codes(0);
        codes.removeAll(QStringLiteral("GSF")); // idle polls in between are whole requests too
        QCOMPARE(codes.join(' '), wire);
        QCOMPARE(f.commands(0, "SEA"), (QList<QByteArray>{"SEA\x01;", "SEA\x02;"}));
        QCOMPARE(first->text(), QStringLiteral("ON"));
    }

    // While a speed test takes a controller's samples itself, the display
    // (running at 100 ticks a second) takes none of them.
    void speedTestKeepsItsSamples()
    {
        WindowFixture f;
        QVERIFY(f.connect(1));
        QVERIFY(f.acquire(1, 100));
        Controller *controller = f.window->controllerRegistry().controllers.first();
        std::optional<LinkSequences::SpeedOutcome> outcome;
        whenReady(controller->speedTest(500, 1000), f.window.get(),
                  [&](const LinkSequences::SpeedOutcome &o) { outcome = o; });
        QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 30000);
        // Samples the display had taken would be missing from the count.
        QVERIFY(outcome->streamResumed);
        QVERIFY2(outcome->result.received >= outcome->result.expected * 9 / 10,
                 qPrintable(QStringLiteral("%1 of %2").arg(outcome->result.received).arg(outcome->result.expected)));
    }
};

QTEST_MAIN(WindowRequestsTest)
#include "tst_windowrequests.moc"
