#pragma once

#include <QObject>
#include <QString>

#include <functional>

class ControllerRegistry;
class DataLoggerDialog;
class MainToolBar;
class QAction;
class QWidget;
class Recorder;
class WindowStatus;

// The main window's recording side: owns the recording dialog, starts and
// stops a recording when the dialog asks, shows the recording lamp and label
// of the tool bar and reports a recording that failed while writing. The
// recorder decides which samples are written; the display tick hands it
// every processed sample.
class RecordingControl : public QObject
{
    Q_OBJECT
public:
    // startAcquisition starts the streams and the display when a recording
    // begins while the acquisition is stopped.
    RecordingControl(QWidget *window, ControllerRegistry &registry, Recorder &records, MainToolBar *tools,
                     std::function<void()> startAcquisition);

    DataLoggerDialog *dialog() const { return recordingDialog; }
    const Recorder &recorder() const { return records; }
    // Where failures are announced (created after this object).
    void setStatus(WindowStatus *windowStatus) { status = windowStatus; }
    // The "Recording" menu entries that show and close the dialog.
    void wireMenu(QAction *open, QAction *close);

    // Ends a running recording (dialog and recorder) before the streams stop.
    void stopIfRecording();
    // Ends the recording with its files complete (the window closes).
    void finish();

private:
    void showDialog();
    void closeDialog();
    void start(const QString &path, bool multiSave);
    void stop();
    void failed(const QString &message);
    bool shownEnabled() const;
    void setShown(bool enabled);

    QWidget *window;
    ControllerRegistry &registry;
    Recorder &records;
    MainToolBar *tools;
    std::function<void()> startAcquisition;
    DataLoggerDialog *recordingDialog = nullptr;
    WindowStatus *status = nullptr;
};
