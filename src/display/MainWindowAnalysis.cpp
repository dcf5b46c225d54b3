// The main window's analysis side: the "Analysis" menu with the jitter
// analysis window, the headroom warnings of the piezo range bars and the
// status-bar entry for samples lost before display.

#include "display/MainWindow.h"

#include "ui_mainwindow.h"

#include "analysis_ui/JitterAnalysisWidget.h"
#include "display/LinkedSpinBox.h"
#include "display/DropIndicator.h"
#include "display/JitterWindowLink.h"
#include "display/MainToolBar.h"
#include "display/ThermoSlider.h"
#include "link/Connection.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

void MainWindow::buildAnalysis()
{
    jitter = new JitterWindowLink(this, tick);
    QMenu *menu = menuBar()->addMenu(QStringLiteral("Analysis"));
    menu->setObjectName(QStringLiteral("menuAnalysis"));
    QAction *live = menu->addAction(QStringLiteral("Jitter analysis"));
    live->setObjectName(QStringLiteral("actionJitterAnalysis"));
    live->setToolTip(QStringLiteral("Spectrum, cumulative RMS, Allan deviation and piezo headroom of the "
                                    "displayed controller, from its live stream"));
    connect(live, &QAction::triggered, this, &MainWindow::openJitterAnalysis);
    QAction *file = menu->addAction(QStringLiteral("Jitter analysis of a recording..."));
    file->setObjectName(QStringLiteral("actionJitterAnalysisRecording"));
    connect(file, &QAction::triggered, jitter, &JitterWindowLink::openRecording);

    drops = new DropIndicator(this);
    ui->statusBar->addPermanentWidget(drops);
}

void MainWindow::openJitterAnalysis()
{
    const int c = registry.activeIndex;
    if (c < 0 || c >= registry.count() || !registry.isDisplayed(c)) {
        // Nothing to follow live: the window opens for a recording file.
        JitterAnalysisWidget *w = jitter->window();
        w->setWindowTitle(QStringLiteral("Jitter analysis"));
        w->show();
        w->raise();
        return;
    }
    Connection *link = registry.link(c);
    units.update(registry); // the units of the controllers displayed now
    const int rate = link->isStreaming() && link->samplingRate() > 0 ? link->samplingRate()
                                                                       : tools->samplingRate()->value();
    jitter->openLive(link->address(), registry.controllerStatus.at(c).label, rate, units.stage(1).unit(),
                     units.stage(2).unit());
}

void MainWindow::analysisBeforeTick()
{
    jitter->beforeTick(registry, units);
}

void MainWindow::analysisAfterTick(const DisplayTick::Result &result)
{
    drops->refresh(registry);

    // Headroom of the active controller, whose range values the bars show,
    // at one set a second.
    const int c = registry.isDisplayed(registry.activeIndex) ? registry.activeIndex : -1;
    bool changed = headroom.follow(c >= 0 ? registry.link(c)->address() : QString());
    if (c >= 0 && result.barsValid) {
        const double volts[4] = {tick.bar(0), tick.bar(1), tick.bar(2), tick.bar(3)};
        changed = headroom.offer(Connection::now(), volts) || changed;
    }
    if (changed)
        headroom.apply(thermo);
}
