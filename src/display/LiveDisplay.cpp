#include "display/LiveDisplay.h"

#include "controller/ControllerRegistry.h"
#include "controller/DisplayUnits.h"
#include "display/Acquisition.h"
#include "display/LinkedSpinBox.h"
#include "display/MainToolBar.h"
#include "display/PlotPanel.h"
#include "display/PointingStatistics.h"
#include "display/RecordingControl.h"
#include "display/SamplingRateLimit.h"
#include "display/StagePanel.h"
#include "display/WindowAnalysis.h"
#include "display/WindowStatus.h"
#include "overview/ConnectionOverviewDialog.h"
#include "recording/DataLoggerDialog.h"

#include <QAction>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLCDNumber>
#include <QMainWindow>
#include <QRadioButton>
#include <QTimer>

namespace {
const QString zeroText = QStringLiteral("0.00");
}

LiveDisplay::LiveDisplay(QMainWindow *window, const Parts &parts, int firstTickMs)
    : QObject(window)
    , window(window)
    , parts(parts)
{
    connect(parts.acquisition, &Acquisition::tooManyErrors, this, &LiveDisplay::stop);
    showRunning(false);

    timer = new QTimer(this);
    timer->setSingleShot(true); // every tick restarts it
    connect(timer, &QTimer::timeout, this, &LiveDisplay::update);
    timer->start(firstTickMs);
}

bool LiveDisplay::isRunning() const
{
    return parts.tools->startAction()->isChecked();
}

void LiveDisplay::pause()
{
    timer->stop();
}

void LiveDisplay::resume()
{
    if (!closing)
        timer->start(int(1000.0 / parts.tools->updateRate()->value()));
}

void LiveDisplay::close()
{
    closing = true;
    timer->stop();
}

// ---- Display tick ------------------------------------------------------

void LiveDisplay::update()
{
    QElapsedTimer duration;
    duration.start();
    MainToolBar *tools = parts.tools;
    ControllerRegistry &registry = parts.registry;
    parts.plotPanel->applyUnits(tools->pointingMode()->isChecked());
    parts.rates.follow(registry.allDisplayedTriggered(), isRunning());
    DisplayTick::Result result;
    parts.analysis->beforeTick();
    const bool running = tools->startAction()->isChecked() && tools->startAction()->isEnabled();
    if (running) {
        result = parts.tick.run(tools->samplingRate()->value(), parts.units);
        if (result.numericsValid && registry.singleDisplayed() >= 0)
            showNumericDisplays();
        if (result.runFinished)
            stop();
    }
    parts.analysis->afterTick(result);
    parts.status->afterTick(parts.tick, result, running, tools->samplingRate()->value());
    // Requests only: a slow or silent controller delays neither this tick
    // nor the others' polls.
    parts.acquisition->pollIdle();
    const int single = registry.singleDisplayed();
    if (single >= 0)
        parts.stages->sync(registry.controllerStatus.at(single));
    parts.overview->updateConnections(registry.controllerStatus);
    if (tickObserver)
        tickObserver(duration.nsecsElapsed(), result);
    resume();
}

void LiveDisplay::showNumericDisplays()
{
    const int c = parts.registry.singleDisplayed();
    const StageDetectors &models = parts.registry.stageDetectors.at(c);
    static const char *const names[3] = {"Position x", "Position y", "Intensity"};
    for (int i = 0; i < 6; ++i) {
        QLCDNumber *lcd = parts.lcds[i];
        const int decimals = (i % 3 == 2) ? 2 : models.stage(i / 3)->displayDecimals();
        const QString text =
            QString::number(parts.tick.average(i), 'f', parts.units.lengthUnit(i / 3 + 1) ? decimals : 2);
        if (lcd->accessibleName().endsWith(QStringLiteral(": ") + text))
            continue;
        lcd->display(text);
        // The number is painted; its reading is the accessible name.
        const QString unit = i % 3 == 2 ? QStringLiteral("V") : parts.units.stage(i / 3 + 1).unit();
        lcd->setAccessibleName(QStringLiteral("%1 [%2], stage %3: %4")
                                   .arg(QLatin1String(names[i % 3]), unit)
                                   .arg(i / 3 + 1)
                                   .arg(text));
    }
}

// ---- Acquisition ---------------------------------------------------------

void LiveDisplay::startStop()
{
    MainToolBar *tools = parts.tools;
    DisplayTick &tick = parts.tick;
    if (!tools->startAction()->isChecked()) {
        // The recording ends before the streams stop.
        parts.recording->dialog()->emitStopSignal();
        stop();
        showRunning(false);
        return;
    }
    timer->stop();
    // Every displayed controller starts at once, each on its own worker;
    // a failed start shows the streaming error when its answer arrives.
    parts.acquisition->startStreams(tools->samplingRate()->value());
    parts.acquisition->resetErrors();
    resetPlotsAndDisplays();
    parts.plotPanel->statistics()->restartClock();
    if (tools->pointingMode()->isChecked()) {
        tick.samplesToTake = tools->samplesToTake()->value();
        if (tick.samplesTaken >= tick.samplesToTake) {
            parts.plotPanel->clearStatistics();
        }
    } else {
        tick.samplesToTake = -1;
    }
    parts.plotPanel->startPlots();
    showRunning(true);
}

void LiveDisplay::stop()
{
    // Without acquisition nothing more is recorded: a running recording ends
    // first (also at the end of a pointing run or after communication errors).
    if (parts.recording)
        parts.recording->stopIfRecording();
    parts.acquisition->stopStreams();
    parts.tools->startAction()->setChecked(false);
    showRunning(false);
    parts.plotPanel->stopPlots();
}

void LiveDisplay::showRunning(bool running)
{
    MainToolBar *tools = parts.tools;
    if (tools->pointingMode()->isChecked())
        tools->samplesToTake()->setEnabled(true);
    tools->samplingRate()->setEnabled(!running && !parts.rates.locked());
    QAction *start = tools->startAction();
    start->setText(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
    start->setChecked(running);
    start->setIcon(QIcon(running ? QStringLiteral(":/images/stop.xpm") : QStringLiteral(":/images/go.xpm")));
}

void LiveDisplay::resetPlotsAndDisplays()
{
    timer->stop();
    parts.plotPanel->clearPlots();
    parts.tick.restartSweeps(quint32(QDateTime::currentMSecsSinceEpoch()));
    parts.plotPanel->clearStatistics();
    parts.tick.clearAverages();
    for (QLCDNumber *lcd : window->findChildren<QLCDNumber *>()) {
        lcd->display(zeroText);
        lcd->setAccessibleName(lcd->accessibleName().section(QLatin1Char(':'), 0, 0));
    }
    resume();
}

void LiveDisplay::enableSamplesCounter(bool on)
{
    parts.tools->samplesToTake()->setEnabled(on);
    if (isRunning() && on) {
        parts.tick.samplesToTake = parts.tools->samplesToTake()->value();
        parts.tick.samplesTaken = 0;
        parts.plotPanel->statistics()->clear();
    } else {
        parts.tick.samplesToTake = -1;
    }
}
