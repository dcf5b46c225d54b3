// The live side of the main window: the display tick, the units of the
// axes, the trigger-rate lock, acquisition start and stop, pointing mode and
// the statistics slots.

#include "display/MainWindow.h"

#include "ui_mainwindow.h"

#include "display/LinkedSpinBox.h"
#include "display/GenericPlot.h"
#include "display/MainToolBar.h"
#include "display/PlotPanel.h"
#include "display/PointingStatistics.h"
#include "display/SamplingRateLimit.h"
#include "display/Acquisition.h"
#include "display/StagePanel.h"
#include "display/ThermoSlider.h"
#include "display/RecordingControl.h"
#include "display/WindowAnalysis.h"
#include "display/WindowStatus.h"
#include "link/Connection.h"
#include "overview/ConnectionOverviewDialog.h"
#include "recording/DataLoggerDialog.h"

#include <QAction>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLCDNumber>
#include <QRadioButton>
#include <QTimer>

namespace {
const QString zeroText = QStringLiteral("0.00");
}

// ---- Display tick ------------------------------------------------------

void MainWindow::updateData()
{
    QElapsedTimer duration;
    duration.start();
    plotPanel->applyUnits(tools->pointingMode()->isChecked());
    rates->follow(registry.allDisplayedTriggered(), isRunning());
    DisplayTick::Result result;
    analysisSide->beforeTick();
    const bool running = tools->startAction()->isChecked() && tools->startAction()->isEnabled();
    if (running) {
        result = tick.run(tools->samplingRate()->value(), units);
        if (result.numericsValid && registry.singleDisplayed() >= 0)
            showNumericDisplays();
        if (result.runFinished)
            stopDrawingPlots();
    }
    analysisSide->afterTick(result);
    status->afterTick(tick, result, running, tools->samplingRate()->value());
    // Requests only: a slow or silent controller delays neither this tick
    // nor the others' polls.
    acquisition->pollIdle();
    syncStageWidgets();
    overview->updateConnections(registry.controllerStatus);
    if (tickObserver)
        tickObserver(duration.nsecsElapsed(), result);
    restartDisplayTimer();
}

void MainWindow::showNumericDisplays()
{
    const int c = registry.singleDisplayed();
    const StageDetectors &models = registry.stageDetectors.at(c);
    QLCDNumber *lcds[6] = {ui->lcd_positionX, ui->lcd_positionY, ui->lcd_intensityValue,
                           ui->lcd_positionX_2, ui->lcd_positionY_2, ui->lcd_intensityValue_2};
    static const char *const names[3] = {"Position x", "Position y", "Intensity"};
    for (int i = 0; i < 6; ++i) {
        const int decimals = (i % 3 == 2) ? 2 : models.stage(i / 3)->displayDecimals();
        const QString text = QString::number(tick.average(i), 'f', units.lengthUnit(i / 3 + 1) ? decimals : 2);
        if (lcds[i]->accessibleName().endsWith(QStringLiteral(": ") + text))
            continue;
        lcds[i]->display(text);
        // The number is painted; its reading is the accessible name.
        const QString unit = i % 3 == 2 ? QStringLiteral("V") : units.stage(i / 3 + 1).unit();
        lcds[i]->setAccessibleName(QStringLiteral("%1 [%2], stage %3: %4")
                                       .arg(QLatin1String(names[i % 3]), unit)
                                       .arg(i / 3 + 1)
                                       .arg(text));
    }
}

void MainWindow::syncStageWidgets()
{
    const int c = registry.singleDisplayed();
    if (c < 0)
        return;
    stages->sync(registry.controllerStatus.at(c));
}

// ---- Acquisition ---------------------------------------------------------

void MainWindow::startStopDataAcquisition()
{
    if (!tools->startAction()->isChecked()) {
        // The recording ends before the streams stop.
        recordingControl->dialog()->emitStopSignal();
        stopDrawingPlots();
        showRunning(false);
        return;
    }
    displayTimer->stop();
    // Every displayed controller starts at once, each on its own worker;
    // a failed start shows the streaming error when its answer arrives.
    acquisition->startStreams(tools->samplingRate()->value());
    acquisition->resetErrors();
    resetPlotsAndDisplays();
    statistics()->restartClock();
    if (tools->pointingMode()->isChecked()) {
        tick.samplesToTake = tools->samplesToTake()->value();
        if (tick.samplesTaken >= tick.samplesToTake) {
            plotPanel->clearStatistics();
        }
    } else {
        tick.samplesToTake = -1;
    }
    startDrawingPlots();
    showRunning(true);
}

void MainWindow::startDrawingPlots()
{
    plotPanel->startPlots();
}

void MainWindow::stopDrawingPlots()
{
    // Without acquisition nothing more is recorded: a running recording ends
    // first (also at the end of a pointing run or after communication errors).
    if (recordingControl)
        recordingControl->stopIfRecording();
    acquisition->stopStreams();
    tools->startAction()->setChecked(false);
    showRunning(false);
    plotPanel->stopPlots();
}

void MainWindow::showRunning(bool running)
{
    if (tools->pointingMode()->isChecked())
        tools->samplesToTake()->setEnabled(true);
    tools->samplingRate()->setEnabled(!running && !rates->locked());
    QAction *start = tools->startAction();
    start->setText(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
    start->setChecked(running);
    start->setIcon(QIcon(running ? QStringLiteral(":/images/stop.xpm") : QStringLiteral(":/images/go.xpm")));
}

void MainWindow::resetPlotsAndDisplays()
{
    displayTimer->stop();
    plotPanel->clearPlots();
    tick.restartSweeps(quint32(QDateTime::currentMSecsSinceEpoch()));
    plotPanel->clearStatistics();
    tick.clearAverages();
    for (QLCDNumber *lcd : findChildren<QLCDNumber *>()) {
        lcd->display(zeroText);
        lcd->setAccessibleName(lcd->accessibleName().section(QLatin1Char(':'), 0, 0));
    }
    restartDisplayTimer();
}

void MainWindow::enableSamplesCounter(bool on)
{
    tools->samplesToTake()->setEnabled(on);
    if (isRunning() && on) {
        tick.samplesToTake = tools->samplesToTake()->value();
        tick.samplesTaken = 0;
        statistics()->clear();
    } else {
        tick.samplesToTake = -1;
    }
}

void MainWindow::updateSamplesToTake(int value)
{
    tick.samplesToTake = value;
}
