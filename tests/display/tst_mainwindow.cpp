// The main window's live display against the embedded simulator: what
// reaches the controllers, what reaches the plots, the tool bar's rules.

#include "display/PlotPanel.h"
#include "WindowFixture.h"
#include "controller/Controller.h"

#include "controller/ControllerRegistry.h"
#include "display/DisplayTick.h"
#include "controller/DisplayUnits.h"
#include "display/PlotConfigurator.h"
#include "display/PointingStatistics.h"
#include "controller/LinkSequences.h"

#include <QCheckBox>
#include <QDateTime>
#include <QMessageBox>
#include <QRadioButton>

// Sampling rate, how long the controller streams, trigger display, whether
// the sweep started long ago.
const struct TickRow { const char *name; int rate, streamMs; bool trigger, oldSweep; } tickRows[] = {
    {"every sample plotted", 100, 1500, false, false}, {"decimated by 2", 500, 600, false, false},
    {"trigger display bypasses decimation", 500, 600, true, false}, {"at most 501 per tick", 500, 1600, false, false},
    {"sweep restarts at the first sample", 500, 400, false, true}};

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void clockArithmetic()
    {
        // Rate and sweep width, the decimation; a sweep origin and a sample
        // time, the time since the origin.
        const struct { const char *name; int rate, width, decimation; quint32 origin; qint32 time; quint32 since; } rows[] = {
            {"rate below width", 100, 400, 1, 1000u, 1500, 500u}, {"rate twice width", 500, 250, 2, 0u, 0, 0u},
            {"rate just below twice width", 499, 250, 1, 0u, 10, 10u}, {"no width yet", 500, 0, 1, 0u, 10, 10u},
            {"sweep across the 32-bit wrap", 100, 100, 1, 0xFFFFFF00u, 0x100, 0x200u},
            {"time above 2^31", 100, 100, 1, 0x7FFFFF00u, qint32(0x80000100u), 0x200u}};
        for (const auto &r : rows) {
            QVERIFY2(DisplayTick::decimation(r.rate, r.width) == r.decimation, r.name);
            QVERIFY2(DisplayTick::sinceOrigin(r.time, r.origin) == r.since, r.name);
        }
    }

    // One tick over samples waiting in a real store: exact counts per plot.
    void tickFeedsPlotsAveragesAndBars_data() { addRows(tickRows); }
    void tickFeedsPlotsAveragesAndBars()
    {
        QFETCH(int, row);
        const auto [name, rate, streamMs, trigger, oldSweep] = tickRows[row];
        Simulator sim;
        Connection *connection = connectToSimulator(sim).release();
        QVERIFY(connection);
        QList<StageDetectors> detectors{StageDetectors(0, 50.0, 0, 0, 50.0, 0, trigger)};
        ControllerRegistry registry(detectors);
        ConnectionSettings settings = simSettings(0);
        settings.pulsedLaser = trigger;
        registry.add(new Controller(std::unique_ptr<Connection>(connection)), &settings);
        registry.displayed = {0};
        registry.activeIndex = 0;

        GenericPlot owned[2][3];
        DisplayPlots plots;
        for (int s = 0; s < 2; ++s) {
            plots.position[s] = &owned[s][0];
            plots.time[s] = &owned[s][1];
            plots.intensity[s] = &owned[s][2];
            PlotConfigurator::configurePositionPlot(plots.position[s]);
            PlotConfigurator::configureTimePlot(plots.time[s]);
            PlotConfigurator::configureIntensityPlot(plots.intensity[s]);
            plots.position[s]->setAccumulate(true); // keep every point to count them
            for (GenericPlot *plot : {plots.position[s], plots.intensity[s], plots.time[s], plots.time[s]})
                plot->addCurve(0);
            plots.time[s]->canvas()->setFixedWidth(250);
            plots.time[s]->resize(400, 200);
            plots.time[s]->show();
        }
        QTRY_VERIFY(plots.time[0]->canvas()->width() == 250 && plots.time[1]->canvas()->width() == 250);

        DisplayTick tick(registry, plots);
        QVector<StreamSample> seen;
        tick.setRecorderHook([&](int d, int c, const StreamSample &sample) { QCOMPARE(qMakePair(d, c), qMakePair(0, 0)); seen << sample; });
        const quint32 now = quint32(QDateTime::currentMSecsSinceEpoch());
        tick.restartSweeps(oldSweep ? now - 20000 : now - 1000);

        QVERIFY(LinkSequences::startStream(*connection, rate));
        QTest::qWait(streamMs);
        LinkSequences::stopStream(*connection);
        const int stored = connection->storedSamples();
        QVERIFY(stored > 41);
        DisplayUnits units;
        units.update(registry);
        const DisplayTick::Result result = tick.run(rate, units);
        const int n = qMin(stored, DisplayTick::maxSamplesPerTick);
        QCOMPARE((QList<int>{result.taken, seen.size(), connection->storedSamples(), result.numericsValid}),
                 (QList<int>{n, n, stored - n, true}));

        const int every = trigger ? 1 : qMax(1, rate / 250);
        const int plotted = (n + every - 1) / every;
        for (int s = 0; s < 2; ++s) {
            QCOMPARE(curveSize(plots.position[s], 0), n);
            // An old sweep: the first sample cleared it and became its origin.
            if (oldSweep)
                QCOMPARE(tick.timeOrigin[s], quint32(seen.first().time));
            const int sweep = oldSweep ? plotted - 1 : plotted;
            QCOMPARE((QList<int>{curveSize(plots.time[s], 0), curveSize(plots.time[s], 1)}), (QList<int>{sweep, sweep}));
            if (!oldSweep)
                QCOMPARE(curveSize(plots.intensity[s], 0), plotted);
        }
        // Numeric displays: the mean of the last 41 values; bars: the last sample.
        double x1 = 0, i2 = 0;
        for (int k = n - DisplayTick::averageLength; k < n; ++k) {
            x1 += seen[k].x1 * 0.001;
            i2 += seen[k].intensity2 * 0.001;
        }
        QVERIFY(qAbs(tick.average(0) - x1 / DisplayTick::averageLength) < 1e-9);
        QVERIFY(qAbs(tick.average(5) - i2 / DisplayTick::averageLength) < 1e-9);
        QCOMPARE(qMakePair(tick.bar(0), tick.bar(3)), qMakePair(seen.last().rangeX1 * 0.001, seen.last().rangeY2 * 0.001));
    }

    void triggerDisplayLocksSamplingRateAndRestoresIt()
    {
        WindowFixture f;
        QVERIFY(f.start(1));
        LinkedSpinBox *rate = f.counter("counterSamplingRate");
        rate->setValue(200);
        ConnectionSettings settings = simSettings(0);
        settings.pulsedLaser = true;
        QVERIFY(f.add(0, settings));
        QTRY_COMPARE_WITH_TIMEOUT(rate->value(), 1000, 5000);
        QVERIFY(rate->maximum() == 1000);
        QVERIFY(!rate->isEnabled());
        f.window->showConnection(simAddress(0), false);
        QTRY_COMPARE_WITH_TIMEOUT(rate->value(), 200, 5000);
        QVERIFY(rate->maximum() == 500);
        QVERIFY(rate->isEnabled());
    }

    void refusedStartShowsStreamingErrorAndOthersStream()
    {
        WindowFixture f;
        QVERIFY(f.connect(2));
        f.refuse(1, {"SLS"});
        f.startAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(f.window->parts().streamError->isVisible(), 5000);
        QCOMPARE(f.window->parts().streamError->text() + f.startAction()->text(), QStringLiteral("Streaming error has occurred.Stop"));
        QVERIFY(f.sim.isStreaming(0));
        QVERIFY(!f.sim.isStreaming(1));
        QTRY_VERIFY_WITH_TIMEOUT(curveSize(f.window->positionPlot(1), 0) > 0, 5000);
    }

    void pointingRunStopsAtTargetWithFinalStatistics()
    {
        WindowFixture f;
        QVERIFY(f.connect(1));
        f.counter("counterSamplingRate")->setValue(500);
        f.widget<QRadioButton>("radioPointingMode")->setChecked(true);
        f.counter("counterSamplesToTake")->setValue(300);
        f.widget<QCheckBox>("checkBox_statistics")->setChecked(true);
        f.startAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!f.startAction()->isChecked(), 10000);
        QCOMPARE(f.window->samplesTaken(), 300);
        const QString text = f.window->parts().plotPanel->statistics()->text(1);
        QVERIFY2(text.contains("#samples=300"), qPrintable(text));
        QVERIFY2(!text.contains("nan"), qPrintable(text));
        QVERIFY2(f.window->parts().plotPanel->statistics()->isShown(1), qPrintable(text));
        QTRY_VERIFY_WITH_TIMEOUT(!f.sim.isStreaming(0), 5000);
        QCOMPARE(curveSize(f.window->positionPlot(1), 0), 300); // the whole run accumulated
    }

    void closingStopsStreamsAndEndsEveryLink()
    {
        WindowFixture f;
        QVERIFY(f.connect(3));
        QVERIFY(f.acquire(3));
        QVERIFY(f.window->close());
        QTRY_VERIFY_WITH_TIMEOUT(f.window->controllerRegistry().controllers.isEmpty(), 20000);
        QVERIFY(f.streaming(3, false));
        for (int i = 0; i < 3; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(!f.sim.hasClient(i), 5000);
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
