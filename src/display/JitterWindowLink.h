#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class ControllerRegistry;
class DisplayTick;
class DisplayUnits;
class JitterAnalysisWidget;
class QWidget;
struct StreamSample;

// Connects the jitter analysis window to the live display. Opening it for a
// controller starts the window's rolling record and puts a tap into the
// display tick that hands over each converted sample of that controller (a
// few appends; the window analyses on its own timer). The tap is removed as
// soon as the window is closed, switched to a recording file, or the
// controller is gone, so nothing is handed over while nobody looks.
class JitterWindowLink : public QObject
{
    Q_OBJECT
public:
    JitterWindowLink(QWidget *mainWindow, DisplayTick &tick);
    ~JitterWindowLink() override;

    // The window, created on first use (a top-level window owned by the main window).
    JitterAnalysisWidget *window();
    bool hasWindow() const { return !analysis.isNull(); }

    // Shows the window fed live from the controller with this address.
    void openLive(const QString &address, const QString &label, int samplingRate, const QString &unit1,
                  const QString &unit2);
    // Shows the window and lets the user pick a recording file.
    void openRecording();

    // Once per display tick, before the samples are taken: finds the fed
    // controller's current index and restarts the rolling record when its
    // sampling rate or the position units changed, or its acquisition
    // started again (a gap would spoil the spectra); ends the feed when the
    // window was closed or the controller removed.
    void beforeTick(const ControllerRegistry &registry, const DisplayUnits &units);

    bool isFeeding() const { return connection >= 0; }
    QString fedAddress() const { return address; }

private:
    void take(int c, const double positions[4], const StreamSample &sample);
    void stopFeed();

    QWidget *owner;
    DisplayTick &tick;
    QPointer<JitterAnalysisWidget> analysis;
    QString address;
    int connection = -1;
    int rate = 0;
    int wasStreaming = -1; // of the fed controller at the last tick; -1 unknown
    QString unit[2];
};
