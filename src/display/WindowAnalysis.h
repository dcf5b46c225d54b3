#pragma once

#include "display/DisplayTick.h"
#include "display/HeadroomMonitor.h"

#include <QObject>

class ControllerRegistry;
class DisplayUnits;
class DropIndicator;
class JitterWindowLink;
class MainToolBar;
class QMainWindow;
class ThermoSlider;

// The main window's analysis side: the "Analysis" menu with the jitter
// analysis window (live from the active controller or from a recording), the
// headroom warnings of the piezo range bars and the status-bar entry for
// samples lost before display. The display tick calls it before and after
// taking the samples.
class WindowAnalysis : public QObject
{
    Q_OBJECT
public:
    // Adds the menu to the window's menu bar and the lost-samples entry to
    // its status bar; bars are the range bars x1, y1, x2, y2.
    WindowAnalysis(QMainWindow *window, ControllerRegistry &registry, DisplayTick &tick, DisplayUnits &units,
                   MainToolBar *tools, ThermoSlider *const bars[4]);

    JitterWindowLink *jitter() const { return jitterLink; }
    const HeadroomMonitor &headroom() const { return headroomWatch; }
    DropIndicator *drops() const { return dropEntry; }

    void beforeTick();
    void afterTick(const DisplayTick::Result &result);

private:
    void openJitterAnalysis();

    ControllerRegistry &registry;
    DisplayTick &tick;
    DisplayUnits &units;
    MainToolBar *tools;
    ThermoSlider *bars[4];
    JitterWindowLink *jitterLink = nullptr;
    HeadroomMonitor headroomWatch;
    DropIndicator *dropEntry = nullptr;
};
