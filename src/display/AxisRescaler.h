#pragma once

#include <QObject>

#include <memory>

class AxisClickFilter;
class DisplayTick;
class QLabel;
class RescaleDialog;
class RescaleTimeAxisDialog;
struct DisplayPlots;

// Axis rescaling of the live display: a click on a value or time axis opens
// its rescale dialog with the range the axis shows now, and a new range is
// applied to that stage's plots (and the other stage's when asked and, for
// positions, when both show the same unit). Axis ids: 1/2 position axis of
// stage 1/2, 3/4 time axis, 5/6 intensity axis.
class AxisRescaler : public QObject
{
    Q_OBJECT
public:
    // unitLabels: the position unit captions of stage 1 and 2.
    AxisRescaler(DisplayPlots &plots, DisplayTick &tick, QLabel *const unitLabels[2], QWidget *window);
    ~AxisRescaler() override;

    // The full position range of a stage's detector model (the limits of the
    // position dialog and of a zoom reset) and its unit kind.
    void setPositionRange(int stage, double max, double min, int unitKind);
    double positionMaximum(int stage) const { return positionRange[stage == 2 ? 1 : 0][0]; }
    double positionMinimum(int stage) const { return positionRange[stage == 2 ? 1 : 0][1]; }

public slots:
    void openAxisDialog(int axisId);
    void rescaleAxis(int axisId, double lower, double upper, bool bothStages);
    void rescaleTimeAxis(int axisId, int lower, int upper, bool bothStages);

private:
    void showRescaleDialog(int axisId, double max, double min);
    void showRescaleTimeAxisDialog(int axisId, int lower, int upper);

    DisplayPlots &plots;
    DisplayTick &tick;
    QLabel *unitLabel[2];
    std::unique_ptr<RescaleDialog> rescaleDialog;
    std::unique_ptr<RescaleTimeAxisDialog> rescaleTimeDialog;
    AxisClickFilter *axisClicks;
    double positionRange[2][2] = {{5.0, -5.0}, {5.0, -5.0}}; // max, min per stage
};
