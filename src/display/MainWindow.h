#pragma once

#include "controller/ControllerRegistry.h"
#include "controller/ControllerStatus.h"
#include "display/DisplayTick.h"
#include "controller/DisplayUnits.h"
#include "recording/Recorder.h"
#include "setup/ConnectionHost.h"

#include <QColor>
#include <QList>
#include <QMainWindow>
#include <QPalette>
#include <QString>

#include <functional>
#include <memory>

class ConnectionOverviewDialog;
class Controller;
class GenericPlot;
class HelpMenu;
class RecordingControl;
class MainToolBar;
class ParamsDialog;
class PlotPanel;
class ControllerList;
class SamplingRateLimit;
class QMessageBox;
class WindowAnalysis;
class SettingsDialog;
class ThermoSlider;
struct ConnectionSettings;
class Acquisition;
class LiveDisplay;
class StagePanel;
class WindowStatus;

namespace Ui {
class MainWindow;
}

// The application's main window: owns every controller, shows the displayed
// controllers live and hosts the menus, the tool bar and the dialogs. It is a
// view: every exchange with a controller is a request of that Controller,
// whose result arrives later in a slot, so the user-interface thread never
// waits on a controller. The work is done by the companions beside it:
// ControllerRegistry (the controllers and what is kept per controller),
// ControllerList (adding, showing, removing and reconnecting them),
// PlotPanel (zoom, units, axis rescaling, statistics shown),
// SamplingRateLimit (the limits of the rate boxes), Acquisition (streams,
// status polls, error count), StagePanel (stage buttons, lamps and commands),
// LiveDisplay (the display tick, acquisition start and stop), DisplayTick
// (samples to plots), DisplayUnits (units of the axes), RecordingControl and
// Recorder (the recording dialog and what is written), HelpMenu (about,
// manuals, service dialog), WindowAnalysis (jitter analysis, headroom, lost
// samples), WindowStatus (status bar, legend, range bars). The slots below
// are the window's interface to the dialogs.
class MainWindow : public QMainWindow, public ConnectionHost
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The window's companions and dialogs, for tests and measurements.
    struct Parts
    {
        MainToolBar *toolBar;
        PlotPanel *plotPanel;          // zoom, units, statistics shown
        SamplingRateLimit *rates;      // limits of the rate boxes
        Acquisition *acquisition;      // streams, status polls, error count
        LiveDisplay *live;             // the display tick, start and stop
        RecordingControl *recording;   // recording dialog, recorder, lamp
        HelpMenu *help;                // about, manuals, service dialog
        WindowAnalysis *analysis;      // jitter analysis, headroom, lost samples
        WindowStatus *status;          // status bar, legend, range bars
        ParamsDialog *params;
        SettingsDialog *settings;
        QMessageBox *streamError;
    };
    Parts parts() const;
    // The controllers and what is kept per controller (read only).
    const ControllerRegistry &controllerRegistry() const { return registry; }
    int samplesTaken() const { return tick.samplesTaken; }
    GenericPlot *positionPlot(int stage) const;
    GenericPlot *timePlot(int stage) const;
    GenericPlot *intensityPlot(int stage) const;
    // Sees every processed sample while the display runs (display position,
    // connection index, sample), after the recorder has had it.
    void setSampleObserver(DisplayTick::RecorderHook observer) { sampleObserver = std::move(observer); }

public slots:
    void resizeGraphs();
    void newConnection(Controller *controller, ConnectionSettings *settings = nullptr) override;
    void connectionReady(QString address, QString controllerId) override;
    Controller *controllerAt(QString address) const override;
    void closedConnection(QString address, std::function<void(bool closed)> done) override;
    void reconnectConnection(QString address, std::function<void(bool ok, QString boardID)> done) override;
    void disconnectConnection(QString address, std::function<void(bool gone)> done) override;
    void showConnection(QString id, bool show);
    void updateColorGraph(QString id, QColor color, int graph);
    bool updateSettingsAndParameters(QList<ConnectionSettings> &settings) override;
    void activeStage(QString id, int stage, bool activate);
    void changeGroupId(QString name, int id);
    void multiplexSystem(QString name, bool direction, int stage);
    void changeLabel(QString address, QString label);
    void errorStreamStart();

private slots:
    void on_actionExit_triggered();
    bool on_push_Stab1_clicked();
    bool on_push_Stab2_clicked();
    // Asks the active controller for its status flags; the buttons and
    // lamps follow when the answer arrives. False when none is active.
    bool requestActiveStatus();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Construction steps.
    void buildToolBar();
    void buildPlots();
    void buildDialogs();
    void buildOverview();

    std::unique_ptr<Ui::MainWindow> ui;
    MainToolBar *tools = nullptr;
    QMessageBox *streamError = nullptr;
    SettingsDialog *connectionDialog = nullptr;
    RecordingControl *recordingControl = nullptr;
    HelpMenu *help = nullptr;
    ParamsDialog *params; // before registry: it keeps the stage detector list
    ControllerRegistry registry;
    DisplayPlots plots;
    DisplayTick tick;
    DisplayUnits units;
    ThermoSlider *thermo[4] = {nullptr, nullptr, nullptr, nullptr};
    std::unique_ptr<SamplingRateLimit> rates;
    PlotPanel *plotPanel = nullptr;
    ControllerList *controllerList = nullptr;
    Acquisition *acquisition = nullptr;
    StagePanel *stages = nullptr;
    LiveDisplay *live = nullptr;

    ConnectionOverviewDialog *overview = nullptr;
    Recorder records;
    DisplayTick::RecorderHook sampleObserver;
    WindowAnalysis *analysisSide = nullptr;
    WindowStatus *status = nullptr;
};
