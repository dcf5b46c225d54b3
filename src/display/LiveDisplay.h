#pragma once

#include "display/DisplayTick.h"

#include <QObject>

#include <functional>

class Acquisition;
class ConnectionOverviewDialog;
class ControllerRegistry;
class DisplayUnits;
class MainToolBar;
class PlotPanel;
class QLCDNumber;
class QMainWindow;
class QTimer;
class RecordingControl;
class SamplingRateLimit;
class StagePanel;
class WindowAnalysis;
class WindowStatus;

// The live side of the main window: the display tick (samples to plots,
// numeric displays, analysis, status bar, idle status polls, overview),
// starting and stopping the acquisition from the tool bar, pointing mode and
// clearing the plots and displays.
class LiveDisplay : public QObject
{
    Q_OBJECT
public:
    struct Parts
    {
        ControllerRegistry &registry;
        DisplayTick &tick;
        DisplayUnits &units;
        MainToolBar *tools;
        SamplingRateLimit &rates;
        PlotPanel *plotPanel;
        Acquisition *acquisition;
        StagePanel *stages;
        WindowStatus *status;
        ConnectionOverviewDialog *overview;
        RecordingControl *recording;
        WindowAnalysis *analysis;
        QLCDNumber *lcds[6]; // x, y, intensity of stage 1, then of stage 2
    };
    // Called after every display tick with its duration in nanoseconds
    // (measurements of the live display).
    using TickObserver = std::function<void(qint64 nanoseconds, const DisplayTick::Result &result)>;

    // Starts the first tick after firstTickMs. The window wires the tool
    // bar's entries to the slots below (before its other companions, which
    // follow the same entries).
    LiveDisplay(QMainWindow *window, const Parts &parts, int firstTickMs);

    void setTickObserver(TickObserver observer) { tickObserver = std::move(observer); }
    // Follows the tool bar's start action (checked: start, else stop).
    void startStop();
    // Stops the acquisition: recording first, then the streams and the plots.
    void stop();
    // No tick until resume() (the window fills its setup records meanwhile).
    void pause();
    void resume();
    // Clears the plots, the statistics and the numeric displays.
    void resetPlotsAndDisplays();
    // Pointing mode switched: counts the samples of a run from now on.
    void enableSamplesCounter(bool on);
    // The window closes: no more ticks.
    void close();
    bool isClosing() const { return closing; }

private:
    void update();
    void showNumericDisplays();
    void showRunning(bool running);
    bool isRunning() const;

    QMainWindow *window;
    Parts parts;
    QTimer *timer = nullptr;
    bool closing = false;
    TickObserver tickObserver;
};
