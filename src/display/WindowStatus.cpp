#include "display/WindowStatus.h"

#include "controller/Controller.h"
#include "controller/ControllerRegistry.h"
#include "display/ControllerAlerts.h"
#include "display/ControllerLegend.h"
#include "display/RangeBars.h"
#include "display/StatusBarPanel.h"
#include "link/Connection.h"
#include "recording/DataLoggerDialog.h"
#include "recording/Recorder.h"

#include <QAction>
#include <QDateTime>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

WindowStatus::WindowStatus(QMainWindow *window, ControllerRegistry &controllers, Recorder &recorder,
                           DataLoggerDialog *recording, const Parts &parts)
    : QObject(window)
    , registry(controllers)
    , records(recorder)
    , recordingDialog(recording)
    , alertsOf(new ControllerAlerts(controllers, window->statusBar(), this))
    , legendOf(new ControllerLegend(window))
    , legendBar(new QToolBar(QStringLiteral("Legend"), window))
    , panelOf(new StatusBarPanel(window->statusBar()))
    , barsOf(new RangeBars(parts.bars, parts.barLayouts))
{
    legendBar->setObjectName(QStringLiteral("legendBar"));
    legendBar->setMovable(false);
    legendBar->addWidget(legendOf);
    window->addToolBarBreak(Qt::TopToolBarArea);
    window->addToolBar(Qt::TopToolBarArea, legendBar);

    QMenu *view = new QMenu(QStringLiteral("View"), window->menuBar());
    view->setObjectName(QStringLiteral("menuView"));
    window->menuBar()->insertMenu(parts.menuBefore, view);
    QAction *showLegend = view->addAction(QStringLiteral("Controller legend"));
    showLegend->setObjectName(QStringLiteral("actionShowLegend"));
    showLegend->setCheckable(true);
    showLegend->setChecked(true);
    connect(showLegend, &QAction::toggled, legendBar, &QToolBar::setVisible);
    // Closing the bar from its own context menu unchecks the entry.
    connect(legendBar, &QToolBar::visibilityChanged, showLegend, [showLegend, window, this](bool visible) {
        if (window->isVisible() && !window->isMinimized())
            showLegend->setChecked(visible);
    });

    connect(alertsOf, &ControllerAlerts::raised, this, &WindowStatus::wentAway);
    connect(alertsOf, &ControllerAlerts::cleared, this, &WindowStatus::cameBack);
}

WindowStatus::~WindowStatus()
{
    delete barsOf;
}

void WindowStatus::watch(Controller *controller)
{
    alertsOf->watch(controller);
}

void WindowStatus::expectDisconnect(const Controller *controller)
{
    alertsOf->expectDisconnect(controller);
}

void WindowStatus::forget(const Controller *controller)
{
    alertsOf->forget(controller);
}

void WindowStatus::warn(const QString &text)
{
    panelOf->warn(text);
}

void WindowStatus::afterTick(const DisplayTick &tick, const DisplayTick::Result &result, bool running, int rate)
{
    alertsOf->afterTick(running ? &tick.takenPerDisplayed() : nullptr);
    legendOf->refresh(registry);

    const int active = registry.activeIndex;
    const bool activeShown = active >= 0 && active < registry.count() && registry.isDisplayed(active);
    const QString name = activeShown ? ControllerAlerts::nameOf(registry.controllerStatus.at(active).label,
                                                                registry.controllerStatus.at(active).address)
                                     : QString();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (running && activeShown && result.barsValid) {
        const double volts[4] = {tick.bar(0), tick.bar(1), tick.bar(2), tick.bar(3)};
        barsOf->offer(name, volts, now);
    }
    const int maxAge = activeShown ? ControllerAlerts::stallMs(registry.link(active)->samplingRate()) : 0;
    barsOf->refresh(running && activeShown, name, now, maxAge);

    panelOf->showAcquisition(running, rate, registry.displayed.size());
    panelOf->showRecording(records.fileCount());
}

void WindowStatus::wentAway(Controller *controller, const QString &text)
{
    const int c = registry.indexOf(controller);
    if (c < 0)
        return;
    registry.controllerStatus[c].alert = text;
    if (markRow)
        markRow(controller->address(), text);
    panelOf->warn(text);
    if (!records.endConnection(c, controller->link().droppedSamplesTotal(), text))
        return;
    // Its file ends with the reason in its metadata; the others go on.
    if (records.isRecording()) {
        recordingDialog->showNotice(
            QStringLiteral("Recording of %1 ended. The files of the other controllers go on.").arg(text));
    } else {
        recordingDialog->showNotice(QStringLiteral("Recording ended: %1").arg(text));
        recordingDialog->emitStopSignal();
    }
}

void WindowStatus::cameBack(Controller *controller, const QString &text)
{
    const int c = registry.indexOf(controller);
    if (c >= 0)
        registry.controllerStatus[c].alert.clear();
    if (markRow)
        markRow(controller->address(), QString());
    panelOf->warn(text);
}
