#include "display/WindowAnalysis.h"

#include "controller/ControllerRegistry.h"
#include "controller/DisplayUnits.h"
#include "analysis_ui/JitterAnalysisWidget.h"
#include "display/LinkedSpinBox.h"
#include "display/DropIndicator.h"
#include "display/JitterWindowLink.h"
#include "display/MainToolBar.h"
#include "display/ThermoSlider.h"
#include "link/Connection.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

WindowAnalysis::WindowAnalysis(QMainWindow *window, ControllerRegistry &registry, DisplayTick &tick,
                               DisplayUnits &units, MainToolBar *tools, ThermoSlider *const bars[4])
    : QObject(window)
    , registry(registry)
    , tick(tick)
    , units(units)
    , tools(tools)
    , bars{bars[0], bars[1], bars[2], bars[3]}
{
    jitterLink = new JitterWindowLink(window, tick);
    QMenu *menu = window->menuBar()->addMenu(QStringLiteral("Analysis"));
    menu->setObjectName(QStringLiteral("menuAnalysis"));
    QAction *live = menu->addAction(QStringLiteral("Jitter analysis"));
    live->setObjectName(QStringLiteral("actionJitterAnalysis"));
    live->setToolTip(QStringLiteral("Spectrum, cumulative RMS, Allan deviation and piezo headroom of the "
                                    "displayed controller, from its live stream"));
    connect(live, &QAction::triggered, this, &WindowAnalysis::openJitterAnalysis);
    QAction *file = menu->addAction(QStringLiteral("Jitter analysis of a recording..."));
    file->setObjectName(QStringLiteral("actionJitterAnalysisRecording"));
    connect(file, &QAction::triggered, jitterLink, &JitterWindowLink::openRecording);

    dropEntry = new DropIndicator(window);
    window->statusBar()->addPermanentWidget(dropEntry);
}

void WindowAnalysis::openJitterAnalysis()
{
    const int c = registry.activeIndex;
    if (c < 0 || c >= registry.count() || !registry.isDisplayed(c)) {
        // Nothing to follow live: the window opens for a recording file.
        JitterAnalysisWidget *w = jitterLink->window();
        w->setWindowTitle(QStringLiteral("Jitter analysis"));
        w->show();
        w->raise();
        return;
    }
    Connection *link = registry.link(c);
    units.update(registry); // the units of the controllers displayed now
    const int rate = link->isStreaming() && link->samplingRate() > 0 ? link->samplingRate()
                                                                       : tools->samplingRate()->value();
    jitterLink->openLive(link->address(), registry.controllerStatus.at(c).label, rate, units.stage(1).unit(),
                     units.stage(2).unit());
}

void WindowAnalysis::beforeTick()
{
    jitterLink->beforeTick(registry, units);
}

void WindowAnalysis::afterTick(const DisplayTick::Result &result)
{
    dropEntry->refresh(registry);

    // Headroom of the active controller, whose range values the bars show,
    // at one set a second.
    const int c = registry.isDisplayed(registry.activeIndex) ? registry.activeIndex : -1;
    bool changed = headroomWatch.follow(c >= 0 ? registry.link(c)->address() : QString());
    if (c >= 0 && result.barsValid) {
        const double volts[4] = {tick.bar(0), tick.bar(1), tick.bar(2), tick.bar(3)};
        changed = headroomWatch.offer(Connection::now(), volts) || changed;
    }
    if (changed)
        headroomWatch.apply(bars);
}
