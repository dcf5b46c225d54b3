// The main window's live display against the embedded simulator: what
// reaches the controllers, what reaches the plots, the tool bar's rules.

#include "WindowFixture.h"

#include "display/ControllerRegistry.h"
#include "display/DisplayTick.h"
#include "display/DisplayUnits.h"
#include "display/PlotConfigurator.h"
#include "display/PointingStatistics.h"
#include "display/StreamControl.h"
#include "about/InformationDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QDateTime>
#include <QMessageBox>
#include <QRadioButton>

class MainWindowTest : public QObject
{
    Q_OBJECT

    RowShared<WindowFixture> shared;

private slots:
    void init() { shared.drop(); }
    void cleanup() { shared.dropIfFailed(); }
    void cleanupTestCase() { shared.drop(); }

    void startAndStopReachEveryDisplayedController_data()
    {
        QTest::addColumn<int>("rate");
        QTest::newRow("100 Hz") << 100;
        QTest::newRow("500 Hz, high rate byte set") << 500;
    }
    void startAndStopReachEveryDisplayedController()
    {
        QFETCH(int, rate);
        WindowFixture *fixture = shared.get([](WindowFixture &f) { return f.connect(2); });
        QVERIFY(fixture);
        WindowFixture &f = *fixture;
        QCOMPARE(f.counter("counterSamplingRate")->maximum(), 500); // TCP links only
        f.counter("counterSamplingRate")->setValue(rate);
        for (int s = 1; s <= 2; ++s) // empty from an earlier row
            for (GenericPlot *plot : {f.window->positionPlot(s), f.window->timePlot(s), f.window->intensityPlot(s)})
                plot->clearAllCurves();
        QVERIFY(f.startAction()->isEnabled());
        f.startAction()->trigger();
        QCOMPARE(f.startAction()->text(), QStringLiteral("Stop"));
        for (int i = 0; i < 2; ++i) {
            QTRY_VERIFY_WITH_TIMEOUT(f.sim.isStreaming(i), 5000);
            QCOMPARE(f.commands(i, "SLS").last(), QByteArray("SLS") + rateArguments(rate));
        }
        // Every plot gets the samples of both controllers.
        for (int c = 0; c < 2; ++c) {
            for (int s = 1; s <= 2; ++s) {
                QTRY_VERIFY_WITH_TIMEOUT(curveSize(f.window->positionPlot(s), c) > 0, 5000);
                QTRY_VERIFY_WITH_TIMEOUT(curveSize(f.window->timePlot(s), 2 * c) > 0, 5000);
                QTRY_VERIFY_WITH_TIMEOUT(curveSize(f.window->timePlot(s), 2 * c + 1) > 0, 5000);
                QTRY_VERIFY_WITH_TIMEOUT(curveSize(f.window->intensityPlot(s), c) > 0, 5000);
            }
        }
        f.startAction()->trigger();
        QCOMPARE(f.startAction()->text(), QStringLiteral("Start"));
        for (int i = 0; i < 2; ++i) {
            QTRY_VERIFY_WITH_TIMEOUT(!f.sim.isStreaming(i), 5000);
            QCOMPARE(f.codes(i).last(), QStringLiteral("CLS"));
        }
        QVERIFY(f.counter("counterSamplingRate")->isEnabled());
    }

    void clockArithmetic_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("decimation");
        QTest::addColumn<quint32>("origin");
        QTest::addColumn<qint32>("time");
        QTest::addColumn<quint32>("since");
        QTest::newRow("rate below width") << 100 << 400 << 1 << 1000u << 1500 << 500u;
        QTest::newRow("rate twice width") << 500 << 250 << 2 << 0u << 0 << 0u;
        QTest::newRow("rate just below twice width") << 499 << 250 << 1 << 0u << 10 << 10u;
        QTest::newRow("no width yet") << 500 << 0 << 1 << 0u << 10 << 10u;
        QTest::newRow("sweep across the 32-bit wrap") << 100 << 100 << 1 << 0xFFFFFF00u << 0x100 << 0x200u;
        QTest::newRow("time above 2^31") << 100 << 100 << 1 << 0x7FFFFF00u << qint32(0x80000100u) << 0x200u;
    }
    void clockArithmetic()
    {
        QFETCH(int, rate);
        QFETCH(int, width);
        QFETCH(int, decimation);
        QFETCH(quint32, origin);
        QFETCH(qint32, time);
        QFETCH(quint32, since);
        QCOMPARE(DisplayTick::decimation(rate, width), decimation);
        QCOMPARE(DisplayTick::sinceOrigin(time, origin), since);
    }

    // One tick over samples waiting in a real store: exact counts per plot.
    void tickFeedsPlotsAveragesAndBars_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("streamMs");
        QTest::addColumn<bool>("trigger");
        QTest::addColumn<bool>("oldSweep");
        QTest::newRow("every sample plotted") << 100 << 1500 << false << false;
        QTest::newRow("decimated by 2") << 500 << 600 << false << false;
        QTest::newRow("trigger display bypasses decimation") << 500 << 600 << true << false;
        QTest::newRow("at most 501 per tick") << 500 << 1600 << false << false;
        QTest::newRow("sweep restarts at the first sample") << 500 << 400 << false << true;
    }
    void tickFeedsPlotsAveragesAndBars()
    {
        QFETCH(int, rate);
        QFETCH(int, streamMs);
        QFETCH(bool, trigger);
        QFETCH(bool, oldSweep);
        Simulator sim;
        std::unique_ptr<TcpClient> link = connectToSimulator(sim);
        QVERIFY(link);
        QList<StageDetectors> detectors;
        ControllerRegistry registry(detectors);
        ConnectionSettings settings = simSettings(0);
        settings.pulsedLaser = trigger;
        detectors.append(StageDetectors(0, 50.0, 0, 0, 50.0, 0, trigger));
        Connection *connection = link.release();
        registry.add(connection, &settings);
        registry.displayed = {0};
        registry.activeIndex = 0;

        std::vector<std::unique_ptr<GenericPlot>> owned;
        DisplayPlots plots;
        for (int s = 0; s < 2; ++s) {
            for (GenericPlot **slot : {&plots.position[s], &plots.time[s], &plots.intensity[s]}) {
                owned.push_back(std::make_unique<GenericPlot>());
                *slot = owned.back().get();
            }
            PlotConfigurator::configurePositionPlot(plots.position[s]);
            PlotConfigurator::configureTimePlot(plots.time[s]);
            PlotConfigurator::configureIntensityPlot(plots.intensity[s]);
            plots.position[s]->setAccumulate(true); // keep every point to count them
            plots.position[s]->addCurve(0);
            plots.intensity[s]->addCurve(0);
            plots.time[s]->addCurve(0);
            plots.time[s]->addCurve(1);
            plots.time[s]->canvas()->setFixedWidth(250);
            plots.time[s]->resize(400, 200);
            plots.time[s]->show();
        }
        QTRY_COMPARE(plots.time[0]->canvas()->width(), 250);
        QTRY_COMPARE(plots.time[1]->canvas()->width(), 250);

        DisplayTick tick(registry, plots);
        QVector<StreamSample> seen;
        tick.setRecorderHook([&](int d, int c, const StreamSample &sample) {
            QCOMPARE(d, 0);
            QCOMPARE(c, 0);
            seen << sample;
        });
        const quint32 now = quint32(QDateTime::currentMSecsSinceEpoch());
        tick.restartSweeps(oldSweep ? now - 20000 : now - 1000);

        QVERIFY(StreamControl::startStream(connection, rate));
        QTest::qWait(streamMs);
        StreamControl::stopStream(connection);
        const int stored = connection->storedSamples();
        QVERIFY(stored > 41);

        DisplayUnits units;
        units.update(registry);
        const DisplayTick::Result result = tick.run(rate, units);
        const int n = qMin(stored, DisplayTick::maxSamplesPerTick);
        QCOMPARE(result.taken, n);
        QCOMPARE(seen.size(), n);
        QCOMPARE(connection->storedSamples(), stored - n);
        QVERIFY(result.numericsValid);

        const int every = trigger ? 1 : qMax(1, rate / 250);
        const int plotted = (n + every - 1) / every;
        for (int s = 0; s < 2; ++s) {
            QCOMPARE(curveSize(plots.position[s], 0), n);
            if (!oldSweep) {
                QCOMPARE(curveSize(plots.time[s], 0), plotted);
                QCOMPARE(curveSize(plots.time[s], 1), plotted);
                QCOMPARE(curveSize(plots.intensity[s], 0), plotted);
            } else {
                // The first sample cleared the sweep and became its origin.
                QCOMPARE(tick.timeOrigin[s], quint32(seen.first().time));
                QCOMPARE(curveSize(plots.time[s], 0), plotted - 1);
            }
        }
        // Numeric displays: the mean of the last 41 values; bars: the last sample.
        double x1 = 0, i2 = 0;
        for (int k = n - DisplayTick::averageLength; k < n; ++k) {
            x1 += seen[k].x1 * 0.001;
            i2 += seen[k].intensity2 * 0.001;
        }
        QVERIFY(qAbs(tick.average(0) - x1 / DisplayTick::averageLength) < 1e-9);
        QVERIFY(qAbs(tick.average(5) - i2 / DisplayTick::averageLength) < 1e-9);
        QCOMPARE(tick.bar(0), seen.last().rangeX1 * 0.001);
        QCOMPARE(tick.bar(3), seen.last().rangeY2 * 0.001);
    }

    void counterFollowsMasterAndReturnsToWantedValue_data()
    {
        // Steps: 'm' sets the master, 's' sets the counter; then the expected
        // value of the counter and its wanted value.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QList<int>>("values");
        QTest::addColumn<QList<int>>("wanted");
        QTest::newRow("follows the master down and back up")
            << "s80 m50 m70 m200" << QList<int>{80, 50, 70, 80} << QList<int>{80, 80, 80, 80};
        QTest::newRow("never above the master")
            << "m200 s300 m400" << QList<int>{100, 200, 200} << QList<int>{100, 200, 200};
        QTest::newRow("master below then above a low wish")
            << "s20 m10 m30" << QList<int>{20, 10, 20} << QList<int>{20, 20, 20};
    }
    void counterFollowsMasterAndReturnsToWantedValue()
    {
        QFETCH(QString, steps);
        QFETCH(QList<int>, values);
        QFETCH(QList<int>, wanted);
        QWidget parent;
        Counter master(&parent, "Sampling rate [Hz]", QString(), 1, 1000, 1);
        master.setValue(100);
        Counter counter(&parent, "Update rate [Hz]", QString(), 1, 1000, 1, &master);
        counter.setValue(100);
        const QStringList list = steps.split(' ');
        for (int i = 0; i < list.size(); ++i) {
            const int v = list[i].mid(1).toInt();
            (list[i][0] == 'm' ? master : counter).setValue(v);
            QCOMPARE(counter.value(), values[i]);
            QCOMPARE(counter.wantedValue(), wanted[i]);
        }
    }

    void triggerDisplayLocksSamplingRateAndRestoresIt()
    {
        WindowFixture f;
        QVERIFY(f.start(1));
        Counter *rate = f.counter("counterSamplingRate");
        rate->setValue(200);
        ConnectionSettings settings = simSettings(0);
        settings.pulsedLaser = true;
        QVERIFY(f.add(0, settings));
        QTRY_COMPARE_WITH_TIMEOUT(rate->value(), 1000, 5000);
        QCOMPARE(rate->maximum(), 1000);
        QVERIFY(!rate->isEnabled());
        f.window->showConnection(simAddress(0), false);
        QTRY_COMPARE_WITH_TIMEOUT(rate->value(), 200, 5000);
        QCOMPARE(rate->maximum(), 500);
        QVERIFY(rate->isEnabled());
    }

    void refusedStartShowsStreamingErrorAndOthersStream()
    {
        WindowFixture f;
        QVERIFY(f.connect(2));
        f.refuse(1, {"SLS"});
        QVERIFY(!f.window->streamErrorBox()->isVisible());
        f.startAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(f.window->streamErrorBox()->isVisible(), 5000);
        QCOMPARE(f.window->streamErrorBox()->text(), QStringLiteral("Streaming error has occurred."));
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
        QVERIFY(f.counter("counterSamplesToTake")->isEnabled());
        f.counter("counterSamplesToTake")->setValue(300);
        auto *box = f.widget<QCheckBox>("checkBox_statistics");
        QVERIFY(box->isEnabled());
        box->setChecked(true);
        f.startAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!f.startAction()->isChecked(), 10000);
        QCOMPARE(f.window->samplesTaken(), 300);
        QVERIFY(f.window->statistics()->text(1).contains("#samples=300"));
        QVERIFY(!f.window->statistics()->text(1).contains("nan"));
        QVERIFY(f.window->statistics()->isShown(1));
        QTRY_VERIFY_WITH_TIMEOUT(!f.sim.isStreaming(0), 5000);
        // The position plot accumulated the whole run.
        QCOMPARE(curveSize(f.window->positionPlot(1), 0), 300);
    }

    void closingStopsStreamsAndEndsEveryLink()
    {
        WindowFixture f;
        QVERIFY(f.startStreaming(3));
        QVERIFY(f.window->close());
        QVERIFY(f.window->connections().isEmpty());
        for (int i = 0; i < 3; ++i) {
            QTRY_VERIFY_WITH_TIMEOUT(!f.sim.isStreaming(i), 5000);
            QTRY_VERIFY_WITH_TIMEOUT(!f.sim.hasClient(i), 5000);
        }
    }

    void aboutDialogAndMissingManual()
    {
        MainWindow window;
        window.show();
        window.findChild<QAction *>("actionAboutSoftware")->trigger();
        auto *about = window.findChild<InformationDialog *>();
        QVERIFY(about && about->isVisible() && !about->isModal());
        QVERIFY(InformationDialog::aboutText().contains(QString(qVersion())));

        QTemporaryDir empty;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(empty.path());
        window.findChild<QAction *>("actionManualHardware")->trigger();
        QDir::setCurrent(previous);
        auto *box = window.findChild<QMessageBox *>("manualNotFoundBox");
        QVERIFY(box && box->isVisible());
        QVERIFY(box->text().startsWith(QStringLiteral("Cannot open user manual.")));
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
