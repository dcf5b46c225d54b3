#pragma once

#include "display/DisplayTick.h"

#include <QObject>
#include <QString>

#include <functional>

class Controller;
class ControllerAlerts;
class ControllerLegend;
class ControllerRegistry;
class DataLoggerDialog;
class QAction;
class QGridLayout;
class QMainWindow;
class QMenu;
class QToolBar;
class RangeBars;
class Recorder;
class StatusBarPanel;
class ThermoSlider;

// What the operator sees at a glance beside the plots: the status bar
// (acquisition, recording, newest warning, one entry per controller that
// went away), the legend of the displayed controllers and the piezo range
// bars of the active controller. It also ends the recording file of a
// controller that went away, says so in the recording dialog and marks the
// controller's status record, from which the overview marks its row.
class WindowStatus : public QObject
{
    Q_OBJECT
public:
    struct Parts
    {
        ThermoSlider *bars[4];      // x1, y1, x2, y2
        QGridLayout *barLayouts[2]; // the grid of each stage's bars
        QAction *menuBefore;        // the View menu goes before this menu entry
    };
    // Tells the connection dialog that a controller (address) went away
    // (text) or is back (empty text).
    using RowMarker = std::function<void(const QString &address, const QString &text)>;

    WindowStatus(QMainWindow *window, ControllerRegistry &registry, Recorder &records, DataLoggerDialog *recording,
                 const Parts &parts);
    ~WindowStatus() override;

    void setRowMarker(RowMarker marker) { markRow = std::move(marker); }

    // Controllers coming, leaving on the user's request, and being removed.
    void watch(Controller *controller);
    void expectDisconnect(const Controller *controller);
    void forget(const Controller *controller);

    // After every display tick: alerts, legend, bars and status texts.
    // running: acquisition runs (tick.run was called); rate: sampling rate.
    void afterTick(const DisplayTick &tick, const DisplayTick::Result &result, bool running, int rate);
    // The newest warning in the status bar.
    void warn(const QString &text);

    ControllerAlerts *alerts() const { return alertsOf; }
    ControllerLegend *legend() const { return legendOf; }
    StatusBarPanel *panel() const { return panelOf; }
    RangeBars &bars() const { return *barsOf; }

private:
    void wentAway(Controller *controller, const QString &text);
    void cameBack(Controller *controller, const QString &text);

    ControllerRegistry &registry;
    Recorder &records;
    DataLoggerDialog *recordingDialog;
    ControllerAlerts *alertsOf;
    ControllerLegend *legendOf;
    QToolBar *legendBar;
    StatusBarPanel *panelOf;
    RangeBars *barsOf;
    RowMarker markRow;
};
