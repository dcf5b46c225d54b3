#pragma once

#include <QObject>
#include <QString>

class QLabel;
class QStatusBar;

// The permanent entries of the main window's status bar: whether the
// acquisition runs and at which rate, whether a recording runs, and the
// newest warning with its time. Every entry's accessible name is its text,
// and a text is set only when it changes (the window refreshes it at every
// display tick).
class StatusBarPanel : public QObject
{
    Q_OBJECT
public:
    explicit StatusBarPanel(QStatusBar *bar);

    // rate: samples per second; 1000 means one sample per trigger pulse.
    void showAcquisition(bool running, int rate, int controllersShown);
    // files: how many files the running recording writes (0: none runs).
    void showRecording(int files);
    // The newest warning, shown with the time it was given.
    void warn(const QString &text);

    QString acquisitionText() const;
    QString recordingText() const;
    QString warningText() const;

private:
    static void setText(QLabel *label, const QString &text);

    QLabel *acquisition;
    QLabel *recording;
    QLabel *warning;
};
