// The main window's analysis side: the headroom judgement of the piezo range
// bars, and against the embedded simulator the jitter analysis window fed
// live from the display tick and the status-bar entry for samples the store
// had to overwrite.

#include "display/LiveDisplay.h"
#include "WindowFixture.h"
#include "controller/Controller.h"

#include "analysis_ui/JitterAnalysisWidget.h"
#include "display/DropIndicator.h"
#include "display/HeadroomMonitor.h"
#include "display/JitterWindowLink.h"
#include "display/WindowAnalysis.h"

#include <QThread>

#include <memory>

namespace {
// Display ticks and the samples they took from the store, counted from now on.
struct Ticks { qint64 count = 0, taken = 0; };
std::shared_ptr<Ticks> countTicks(MainWindow *window)
{
    auto ticks = std::make_shared<Ticks>();
    window->parts().live->setTickObserver([ticks](qint64, const DisplayTick::Result &r) { ++ticks->count; ticks->taken += r.taken; });
    return ticks;
}
} // namespace

class AnalysisWindowTest : public QObject
{
    Q_OBJECT

private slots:
    // The monitor's judgement on series of range values, one a second.
    void headroomJudgement()
    {
        // Start, drift and seconds of history; then the warning and its reason.
        const struct { const char *name; double start, voltsPerMinute; int seconds; const char *reason; } rows[] = {
            {"centred and still", 5.0, 0.0, 30, nullptr}, {"just outside 10% of the top", 8.95, 0.0, 30, nullptr},
            {"within 10% of the top", 9.6, 0.0, 5, "within 10%"}, {"within 10% of the bottom", 0.4, 0.0, 5, "within 10%"},
            {"drifting up, 8 min to the limit", 4.0, 0.6, 90, "reaches 10 V in about"},
            {"drifting down, 5 min to the limit", 5.0, -0.7, 90, "reaches 0 V in about"},
            {"fast drift but too little history to judge", 5.0, 0.6, 30, nullptr},
            {"slow drift, 40 min to the limit", 5.0, 0.1, 90, nullptr}};
        for (const auto &r : rows) {
            HeadroomMonitor monitor;
            qint64 now = 1000000;
            for (int i = 0; i < r.seconds; ++i, now += HeadroomMonitor::intervalMs) {
                const double volts[4] = {r.start + r.voltsPerMinute * i / 60.0, 5.0, 5.0, 5.0};
                QVERIFY(monitor.offer(now, volts));
                QVERIFY(!monitor.offer(now + 10, volts)); // offers within the interval are not taken
            }
            const QString tip = monitor.toolTip(0);
            QVERIFY2(monitor.isWarning(0) == bool(r.reason), r.name);
            QVERIFY2(r.reason ? tip.contains(r.reason) : !tip.contains(QStringLiteral("warning")), qPrintable(tip));
            QVERIFY(!monitor.isWarning(1));
            QVERIFY(!monitor.isWarning(2));
            QVERIFY(!monitor.isWarning(3));
            // A pause in the values (acquisition stopped) starts a new history.
            const double centred[4] = {5.0, 5.0, 5.0, 5.0};
            QVERIFY(monitor.offer(now + 10 * HeadroomMonitor::intervalMs, centred));
            QVERIFY(monitor.historyLength() == 1);
            QVERIFY(!monitor.isWarning(0));
        }
    }

    // Opened from its menu, the window's rolling record grows with the
    // stream of the displayed controller, stays still once it is closed and
    // starts afresh when it is opened again or acquisition starts again.
    void analysisWindowFedLiveWhileOpen()
    {
        WindowFixture f;
        QVERIFY(f.connect(1));
        const auto ticks = countTicks(f.window.get());
        QVERIFY(f.acquire(1, 200));
        f.widget<QAction>("actionJitterAnalysis")->trigger();
        JitterAnalysisWidget *w = f.window->parts().analysis->jitter()->window();
        QVERIFY(w->isVisible());
        QVERIFY(w->isLive());
        QVERIFY(w->windowTitle().contains(QStringLiteral("SIM0")));
        QCOMPARE(w->record().sampleRate, 200.0);
        QTRY_VERIFY_WITH_TIMEOUT(w->analyses() > 0 && w->record().samples() > 400, 15000);
        // The actuators of a simulated controller rest mid-range; the
        // positions arrive in volts as the window shows them.
        const JitterRecord &record = w->record();
        QVERIFY(qAbs(record.range[0][0].back() - 5.0) < 0.5);
        QVERIFY(qAbs(record.position[1][1].back()) < 2.0);
        QCOMPARE(record.positionUnit[0], QStringLiteral("V"));

        w->close();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->parts().analysis->jitter()->isFeeding(), 5000); // a tick notices
        const std::size_t kept = w->record().samples();
        const qint64 before = ticks->taken;
        QTRY_VERIFY_WITH_TIMEOUT(ticks->taken > before + 400, 10000); // the display goes on
        QCOMPARE(w->record().samples(), kept);

        f.widget<QAction>("actionJitterAnalysis")->trigger();
        QVERIFY(w->record().samples() < kept);
        QTRY_VERIFY_WITH_TIMEOUT(w->record().samples() > 600, 15000);
        // Started again after a stop a tick saw: the pause is not analysed as part of the series.
        QVERIFY(f.stop());
        const qint64 tick = ticks->count;
        QTRY_VERIFY_WITH_TIMEOUT(ticks->count > tick + 1, 5000);
        QVERIFY(f.acquire());
        QTRY_VERIFY_WITH_TIMEOUT(w->record().samples() < 600, 10000);
        QVERIFY(f.stop());
    }

    // When the tick is held off long enough for the store to overflow, the
    // status bar names the controller with the exact number of samples
    // lost; when the tick keeps up, nothing is shown. A new acquisition
    // starts counting afresh.
    void lostSamplesAreShown_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("blockMs");
        QTest::newRow("tick held off 4 s at 500 Hz") << 500 << 4000;
        QTest::newRow("tick keeps up at 100 Hz") << 100 << 0;
    }
    void lostSamplesAreShown()
    {
        QFETCH(int, rate);
        QFETCH(int, blockMs);
        WindowFixture f;
        QVERIFY(f.connect(1));
        DropIndicator *drops = f.window->parts().analysis->drops();
        QVERIFY(drops);
        QVERIFY(!drops->isVisible());
        Connection *link = &f.window->controllerRegistry().controllers.first()->link();
        QVERIFY(f.acquire(1, rate));
        const auto ticks = countTicks(f.window.get());
        QTRY_VERIFY_WITH_TIMEOUT(ticks->taken > 50, 10000);
        QThread::msleep(unsigned(blockMs)); // the user-interface thread takes nothing meanwhile
        QTest::qWait(2000);
        if (blockMs > 0) {
            // 4 s at 500 Hz is 2000 samples against a store of 1039.
            QVERIFY2(link->droppedSamples() > 500, qPrintable(QString::number(link->droppedSamples())));
            QTRY_VERIFY_WITH_TIMEOUT(drops->isVisible(), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(drops->total(), link->droppedSamples(), 5000);
            QCOMPARE(drops->text(), QStringLiteral("Samples lost: SIM0 %1").arg(drops->total()));
        } else {
            QCOMPARE(link->droppedSamples() + drops->total(), qint64(0));
            QVERIFY(!drops->isVisible());
        }
        QVERIFY(f.stop());
        QCOMPARE(drops->isVisible(), blockMs > 0); // the count stays readable after a stop
        QVERIFY(f.acquire());
        QTRY_VERIFY_WITH_TIMEOUT(!drops->isVisible(), 5000);
        QCOMPARE(drops->total(), qint64(0));
        QVERIFY(f.stop());
    }
};

QTEST_MAIN(AnalysisWindowTest)
#include "tst_analysiswindow.moc"
