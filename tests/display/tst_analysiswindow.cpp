// The main window's analysis side against the embedded simulator: the
// jitter analysis window fed live from the display tick, the headroom
// warnings of the piezo range bars and the status-bar entry for samples the
// store had to overwrite.

#include "WindowFixture.h"

#include "analysis_ui/JitterAnalysisWidget.h"
#include "display/DropIndicator.h"
#include "display/HeadroomMonitor.h"
#include "display/JitterWindowLink.h"
#include "display/ThermoSlider.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool isWarningFill(ThermoSlider *bar)
{
    return bar->fillBrush().color() != QColor(Qt::darkCyan);
}

QByteArray driveArguments(int stage, char axis, int mV)
{
    QByteArray a;
    a.append(char(stage)).append(axis).append(char(mV >> 8)).append(char(mV & 0xff)).append(';');
    return a;
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
            QVERIFY(tip.startsWith(QStringLiteral("Piezo range x, stage 1: ")));
            QVERIFY(!monitor.isWarning(1) && !monitor.isWarning(2) && !monitor.isWarning(3));

            // A pause in the values (acquisition stopped) starts a new history.
            const double centred[4] = {5.0, 5.0, 5.0, 5.0};
            QVERIFY(monitor.offer(now + 10 * HeadroomMonitor::intervalMs, centred));
            QVERIFY(monitor.historyLength() == 1 && !monitor.isWarning(0));
        }
    }

    // Opened from its menu, the window's rolling record grows with the
    // stream of the displayed controller and stays still once it is closed.
    void analysisWindowFedLiveWhileOpen()
    {
        WindowFixture f;
        QVERIFY(f.connect(1));
        auto taken = std::make_shared<qint64>(0);
        f.window->setTickObserver([taken](qint64, const DisplayTick::Result &r) { *taken += r.taken; });
        QVERIFY(f.acquire(1, 200));
        QVERIFY(!f.window->jitterAnalysis()->isFeeding());

        f.widget<QAction>("actionJitterAnalysis")->trigger();
        JitterAnalysisWidget *w = f.window->jitterAnalysis()->window();
        QVERIFY(w->isVisible() && w->isLive() && w->windowTitle().contains(QStringLiteral("SIM0")));
        QCOMPARE(w->record().sampleRate, 200.0);
        QTRY_VERIFY_WITH_TIMEOUT(w->record().samples() > 400, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(w->analyses() > 0, 15000);
        QCOMPARE(int(w->result().size()), 4);
        // The actuators of a simulated controller rest mid-range; the
        // positions arrive in volts as the window shows them.
        const JitterRecord &record = w->record();
        QVERIFY(qAbs(record.range[0][0].back() - 5.0) < 0.5);
        QCOMPARE(record.positionUnit[0], QStringLiteral("V"));
        for (int s = 0; s < 2; ++s)
            for (int a = 0; a < 2; ++a)
                QVERIFY(qAbs(record.position[s][a].back()) < 2.0);

        w->close();
        spin(300); // one tick notices
        QVERIFY(!f.window->jitterAnalysis()->isFeeding());
        const std::size_t kept = w->record().samples();
        const qint64 before = *taken;
        QTRY_VERIFY_WITH_TIMEOUT(*taken > before + 400, 10000); // the display goes on
        QCOMPARE(w->record().samples(), kept);

        // Opened again, it starts a fresh record.
        f.widget<QAction>("actionJitterAnalysis")->trigger();
        QVERIFY(w->record().samples() < kept);
        QTRY_VERIFY_WITH_TIMEOUT(w->record().samples() > 600, 15000);

        // Acquisition stopped: the record stays; started again: a new record
        // begins, so the pause is not analysed as part of the series.
        QVERIFY(f.stop());
        spin(300);
        const std::size_t stopped = w->record().samples();
        spin(500);
        QCOMPARE(w->record().samples(), stopped);
        f.startAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(w->record().samples() < stopped, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(w->record().samples() > 100, 15000);
        QVERIFY(f.stop());
    }

    // Actuators driven near the ends of their ranges (stage 1 x near the top,
    // stage 2 y near the bottom) turn their own bars to the warning colour
    // with a tool tip saying why; the other bars stay calm.
    void rangeBarWarnsNearALimit()
    {
        WindowFixture f;
        QVERIFY(f.connect(1));
        Connection *link = f.window->connections().first();
        const struct { int stage; char axis; int millivolts; } drives[] = {{1, 'x', 9600}, {2, 'y', 350}};
        for (const auto &d : drives) {
            link->setDriveActuator(driveArguments(d.stage, d.axis, d.millivolts));
            QByteArray reply;
            QVERIFY(link->waitForReply(reply) && reply.startsWith(QByteArray("\0;", 2)));
        }
        ThermoSlider *bars[4] = {f.widget<ThermoSlider>("thermo_x"), f.widget<ThermoSlider>("thermo_y"),
                                 f.widget<ThermoSlider>("thermo_x_2"), f.widget<ThermoSlider>("thermo_y_2")};
        for (ThermoSlider *b : bars)
            QVERIFY(b && !isWarningFill(b));
        f.startAction()->trigger();
        for (const auto &[bar, volts] : {std::pair{0, "9.60 V"}, {3, "0.35 V"}}) {
            QTRY_VERIFY_WITH_TIMEOUT(isWarningFill(bars[bar]), 15000);
            const QString tip = bars[bar]->toolTip();
            QVERIFY2(tip.contains(QStringLiteral("within 10% of the end of its range")) && tip.contains(volts), qPrintable(tip));
            QVERIFY(f.window->headroomMonitor().isWarning(bar));
        }
        for (int b : {1, 2})
            QVERIFY(!isWarningFill(bars[b]) && !bars[b]->toolTip().contains(QStringLiteral("warning")));
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
        DropIndicator *drops = f.window->dropIndicator();
        QVERIFY(drops && !drops->isVisible());
        Connection *link = f.window->connections().first();
        QVERIFY(f.acquire(1, rate));
        auto taken = std::make_shared<qint64>(0);
        f.window->setTickObserver([taken](qint64, const DisplayTick::Result &r) { *taken += r.taken; });
        QTRY_VERIFY_WITH_TIMEOUT(*taken > 50, 10000);
        if (blockMs > 0)
            QThread::msleep(unsigned(blockMs)); // the user-interface thread takes nothing meanwhile
        spin(2000);
        if (blockMs > 0) {
            // 4 s at 500 Hz is 2000 samples against a store of 1039.
            QVERIFY2(link->droppedSamples() > 500, qPrintable(QString::number(link->droppedSamples())));
            QTRY_VERIFY_WITH_TIMEOUT(drops->isVisible(), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(drops->total(), link->droppedSamples(), 5000);
            const qint64 lost = drops->total();
            QCOMPARE(drops->text(), QStringLiteral("Samples lost: SIM0 %1").arg(lost));
            QVERIFY(drops->toolTip().contains(QStringLiteral("too slow")) && drops->toolTip().contains(QStringLiteral("127.0.0.1")));
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
