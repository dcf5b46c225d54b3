#pragma once

#include "controller/ControllerStatus.h"

#include <QColor>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class Acquisition;
class Connection;
class ConnectionOverviewDialog;
class Controller;
class ControllerRegistry;
class DataLoggerDialog;
class DisplayTick;
class MainToolBar;
class ParamsDialog;
class PlotPanel;
class QLabel;
class Recorder;
class SamplingRateLimit;
class SettingsDialog;
class StagePanel;
class WindowStatus;
struct ConnectionSettings;
struct DisplayPlots;

// The controllers of the main window: adding, showing and hiding, removing,
// disconnecting and reconnecting them, their labels, groups and colours and
// their curves in the plots. Removal, disconnection and reconnection are
// requests of the controller; their results arrive later and find the
// controller by pointer, never by an index taken before the request.
class ControllerList : public QObject
{
    Q_OBJECT
public:
    // The window's companions the list keeps up to date.
    struct Parts {
        ControllerRegistry &registry;
        DisplayPlots &plots;
        DisplayTick &tick;
        Recorder &records;
        SamplingRateLimit &rates;
        MainToolBar *tools;
        PlotPanel *plotPanel;
        ParamsDialog *params;
        ConnectionOverviewDialog *overview;
        SettingsDialog *connectionDialog;
        DataLoggerDialog *recordingDialog;
        Acquisition *acquisition;
        StagePanel *stages;
        WindowStatus *status;
    };
    // What is shown only while one controller is displayed, and the axis
    // captions that take its colours (x, y, intensity per stage).
    struct Widgets {
        QList<QWidget *> singleController;
        QLabel *timeX[2];
        QLabel *timeY[2];
        QLabel *intensity[2];
    };

    ControllerList(const Parts &parts, const Widgets &widgets, QObject *parent);

    void add(Controller *controller, ConnectionSettings *settings);
    Controller *at(const QString &address) const;
    void show(const QString &address, bool show);
    // The controller has identified itself: displayed if there is room.
    void ready(const QString &address, const QString &controllerId);
    // Hidden at once, closed by its controller, then taken out of the lists.
    void remove(const QString &address, std::function<void(bool closed)> done);
    void disconnectController(const QString &address, std::function<void(bool gone)> done);
    void reconnect(const QString &address, std::function<void(bool ok, QString boardID)> done);
    void setLabel(const QString &address, const QString &label);
    void setGroup(const QString &address, int id);
    // graph: 0 x, 1 y, 2 intensity.
    void setColour(const QString &address, const QColor &colour, int graph);
    // Labels, colours, detectors and display order into the setup records
    // (one per controller, in list order); false when they do not match.
    bool fillSettings(QList<ConnectionSettings> &settings) const;

signals:
    // A stream that ran before a command sequence did not start again.
    void streamRestartFailed();

private:
    void addCurves(int c, const ControllerStatus &status);
    void removeCurves(int c);
    void clearCurves(int c);
    void watchController(Controller *controller);
    void watchDisconnect(Connection *connection);
    // Takes a closed controller out of every list and deletes it.
    void finishRemoval(Controller *controller);
    void setSingleControllerWidgetsVisible(bool visible);
    void colourAxisCaptions(const ControllerStatus *status);
    bool isRunning() const;

    Parts parts;
    Widgets ui;
};
