#pragma once

#include <QToolBar>

class Counter;
class QAction;
class QLabel;
class QRadioButton;

// The main window's tool bar: Start/Stop and Clear, the sampling-rate,
// update-rate and sample counters, oscilloscope or pointing mode, the
// recording lamp and the logo. Fixed at the top.
class KV_ToolBar : public QToolBar
{
    Q_OBJECT
public:
    explicit KV_ToolBar(QWidget *parent = nullptr);

    QAction *startAction() const { return start; }
    QAction *clearAction() const { return clear; }
    Counter *samplingRate() const { return sampling; }
    Counter *updateRate() const { return update; }
    Counter *samplesToTake() const { return samples; }
    QRadioButton *oscilloscope() const { return oscilloscopeButton; }
    QRadioButton *pointingMode() const { return pointingButton; }
    QLabel *recordingLamp() const { return lamp; }
    QLabel *recordingLabel() const { return recordingText; }

private:
    QAction *start;
    QAction *clear;
    Counter *sampling;
    Counter *update;
    Counter *samples;
    QRadioButton *oscilloscopeButton;
    QRadioButton *pointingButton;
    QLabel *lamp;
    QLabel *recordingText;
};
