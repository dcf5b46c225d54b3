#pragma once

#include <QObject>
#include <QString>

#include <memory>

class AxisRescaler;
class ControllerRegistry;
class DisplayTick;
class DisplayUnits;
class PointingStatistics;
class QCheckBox;
class QLabel;
class QPushButton;
struct DisplayPlots;

// The plots of the main window beside the samples: zoom resets, the white
// line of the sweep, the units and full ranges of the axes, axis rescaling,
// starting, stopping and clearing the plots, and showing the pointing
// statistics of the single displayed controller.
class PlotPanel : public QObject
{
    Q_OBJECT
public:
    // The stage-1 and stage-2 twins of the form's widgets.
    struct Widgets {
        QCheckBox *statistics[2];
        QPushButton *resetPositionZoom[2];
        QPushButton *resetTimeZoom[2];
        QLabel *positionUnit[2];
        QLabel *timeX[2];
        QLabel *timeY[2];
        QLabel *readingX[2];
        QLabel *readingY[2];
    };

    PlotPanel(DisplayPlots &plots, DisplayTick &tick, ControllerRegistry &registry, DisplayUnits &units,
              const Widgets &widgets, QWidget *window);
    ~PlotPanel() override;

    PointingStatistics *statistics() const { return stats.get(); }
    AxisRescaler *rescaler() const { return axes; }

    // Follows the units of the displayed controllers: captions, full ranges
    // and, on a change, cleared plots (and statistics in pointing mode).
    void applyUnits(bool pointingMode);
    void startPlots();
    void stopPlots();
    void clearPlots();

public slots:
    // The position plot of stage 1 or 2 back to its full range.
    void resetPositionZoom(int stage);
    // The time and intensity plots of stage 1 or 2 back to their full ranges.
    void resetTimeZoom(int stage);
    void drawWhiteLine(double width);
    // Pointing mode on or off: the check boxes follow; off hides both.
    void enableStatistics(bool on);
    void showStatistics(int stage, bool on);
    // A new run of statistics.
    void clearStatistics();

private:
    DisplayPlots &plots;
    DisplayTick &tick;
    ControllerRegistry &registry;
    DisplayUnits &units;
    Widgets ui;
    std::unique_ptr<PointingStatistics> stats;
    AxisRescaler *axes;
};
