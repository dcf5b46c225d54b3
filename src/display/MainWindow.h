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

class Connection;
class ConnectionOverviewDialog;
class Controller;
class DataLoggerDialog;
class GenericPlot;
class HelpMenu;
class RecordingControl;
class MainToolBar;
class ParamsDialog;
class PlotPanel;
class PointingStatistics;
class ControllerList;
class SamplingRateLimit;
class QMessageBox;
class QTimer;
class WindowAnalysis;
class SettingsDialog;
class ThermoSlider;
struct ConnectionSettings;
class Acquisition;
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
// SamplingRateLimit (the limits of the rate boxes), Acquisition (streams, status polls, error count), StagePanel (stage
// buttons, lamps and commands), DisplayTick (samples to plots), DisplayUnits
// (units of the axes), Recorder (what is written while recording). The slots
// below are the window's interface to the dialogs.
class MainWindow : public QMainWindow, public ConnectionHost
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Read access for dialogs and tests.
    const QList<Controller *> &controllers() const { return registry.controllers; }
    const QList<ControllerStatus> &controllerStatus() const { return registry.controllerStatus; }
    QList<StageDetectors> &stageDetectors() { return registry.stageDetectors; }
    const QList<int> &displayed() const { return registry.displayed; }
    int activeIndex() const { return registry.activeIndex; }
    int maxSamplingRate() const;
    int samplesTaken() const { return tick.samplesTaken; }
    int errorCount() const;
    MainToolBar *toolBar() const { return tools; }
    PointingStatistics *statistics() const;
    QMessageBox *streamErrorBox() const { return streamError; }
    ParamsDialog *paramsDialog() const { return params; }
    GenericPlot *positionPlot(int stage) const;
    GenericPlot *timePlot(int stage) const;
    GenericPlot *intensityPlot(int stage) const;
    SettingsDialog *settingsDialog() const { return connectionDialog; }
    // The recording dialog, the recorder and the recording lamp.
    RecordingControl *recording() const { return recordingControl; }
    // About, manuals and the service dialog.
    HelpMenu *helpMenu() const { return help; }
    // Sees every processed sample while the display runs (display position,
    // connection index, sample), after the recorder has had it.
    void setSampleObserver(DisplayTick::RecorderHook observer) { sampleObserver = std::move(observer); }
    // Called after every display tick with its duration in nanoseconds
    // (measurements of the live display).
    using TickObserver = std::function<void(qint64 nanoseconds, const DisplayTick::Result &result)>;
    void setTickObserver(TickObserver observer) { tickObserver = std::move(observer); }
    // Jitter analysis window, piezo headroom warnings and the lost-samples
    // entry of the status bar.
    WindowAnalysis *analysis() const { return analysisSide; }
    // Status bar, legend, range bars and the announcements of controllers
    // that went away (WindowStatus.h).
    WindowStatus *windowStatus() const { return status; }

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
    void updateData();
    void on_actionExit_triggered();
    void resetPlotsAndDisplays();
    void showRunning(bool running);
    void enableSamplesCounter(bool on);
    void startDrawingPlots();
    void stopDrawingPlots();
    void startStopDataAcquisition();
    bool on_push_Stab1_clicked();
    bool on_push_Stab2_clicked();
    // Asks the active controller for its status flags; the buttons and
    // lamps follow when the answer arrives. False when none is active.
    bool requestActiveStatus();
    void updateSamplesToTake(int value);

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Construction steps.
    void buildToolBar();
    void buildPlots();
    void buildDialogs();
    void buildOverview();
    // Display helpers.
    void syncStageWidgets();
    void showNumericDisplays();
    void restartDisplayTimer();
    int updateInterval() const;
    bool isRunning() const;

    std::unique_ptr<Ui::MainWindow> ui;
    MainToolBar *tools = nullptr;
    QTimer *displayTimer = nullptr;
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
    bool closing = false;
    TickObserver tickObserver;

    ConnectionOverviewDialog *overview = nullptr;
    Recorder records;
    DisplayTick::RecorderHook sampleObserver;
    WindowAnalysis *analysisSide = nullptr;
    WindowStatus *status = nullptr;
};
