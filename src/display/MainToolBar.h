#pragma once

#include <QToolBar>

class LinkedSpinBox;
class QAction;
class QLabel;
class QRadioButton;

// The main window's tool bar: Start/Stop and Clear, the sampling-rate,
// update-rate and sample counters, oscilloscope or pointing mode, the
// recording lamp and the logo. Fixed at the top.
class MainToolBar : public QToolBar
{
    Q_OBJECT
public:
    explicit MainToolBar(QWidget *parent = nullptr);

    QAction *startAction() const { return start; }
    QAction *clearAction() const { return clear; }
    LinkedSpinBox *samplingRate() const { return sampling; }
    LinkedSpinBox *updateRate() const { return update; }
    LinkedSpinBox *samplesToTake() const { return samples; }
    QRadioButton *oscilloscope() const { return oscilloscopeButton; }
    QRadioButton *pointingMode() const { return pointingButton; }
    QLabel *recordingLamp() const { return lamp; }
    QLabel *recordingLabel() const { return recordingText; }

private:
    QAction *start;
    QAction *clear;
    LinkedSpinBox *sampling;
    LinkedSpinBox *update;
    LinkedSpinBox *samples;
    QRadioButton *oscilloscopeButton;
    QRadioButton *pointingButton;
    QLabel *lamp;
    QLabel *recordingText;
};
