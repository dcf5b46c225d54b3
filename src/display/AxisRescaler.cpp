#include "display/AxisRescaler.h"

#include "display/AxisClickFilter.h"
#include "display/DisplayTick.h"
#include "display/GenericPlot.h"
#include "display/PlotConfigurator.h"
#include "display/RescaleDialog.h"
#include "display/RescaleTimeAxisDialog.h"

#include <QLabel>

#include <qwt_scale_div.h>

AxisRescaler::AxisRescaler(DisplayPlots &plots, DisplayTick &tick, QLabel *const unitLabels[2], QWidget *window)
    : QObject(window)
    , plots(plots)
    , tick(tick)
    , unitLabel{unitLabels[0], unitLabels[1]}
    , rescaleDialog(std::make_unique<RescaleDialog>())
    , rescaleTimeDialog(std::make_unique<RescaleTimeAxisDialog>())
    , axisClicks(new AxisClickFilter(this))
{
    connect(rescaleDialog.get(), &RescaleDialog::axisRescaled, this, &AxisRescaler::rescaleAxis);
    connect(rescaleTimeDialog.get(), &RescaleTimeAxisDialog::axisRescaled, this, &AxisRescaler::rescaleTimeAxis);
    axisClicks->watch(plots);
    connect(axisClicks, &AxisClickFilter::axisClicked, this, &AxisRescaler::openAxisDialog);
}

AxisRescaler::~AxisRescaler() = default;

void AxisRescaler::setPositionRange(int stage, double max, double min, int unitKind)
{
    const int s = stage == 2 ? 1 : 0;
    positionRange[s][0] = max;
    positionRange[s][1] = min;
    rescaleDialog->setUnitKind(unitKind, s + 1);
}

// An axis was clicked: open its dialog with the range it shows now.
void AxisRescaler::openAxisDialog(int axisId)
{
    const int s = (axisId % 2 == 0) ? 1 : 0;
    if (axisId == 1 || axisId == 2) {
        const QwtScaleDiv &scale = plots.time[s]->axisScaleDiv(QwtPlot::yLeft);
        showRescaleDialog(axisId, scale.upperBound(), scale.lowerBound());
    } else if (axisId == 5 || axisId == 6) {
        const QwtScaleDiv &scale = plots.intensity[s]->axisScaleDiv(QwtPlot::yLeft);
        showRescaleDialog(axisId, scale.upperBound(), scale.lowerBound());
    } else if (axisId == 3 || axisId == 4) {
        const QwtScaleDiv &scale = plots.time[s]->axisScaleDiv(QwtPlot::xTop);
        showRescaleTimeAxisDialog(axisId, int(scale.lowerBound()), int(scale.upperBound()));
    }
}

void AxisRescaler::showRescaleDialog(int axisId, double max, double min)
{
    switch (axisId) {
    case 1:
    case 2: {
        const int s = axisId - 1;
        rescaleDialog->setAxis(axisId);
        rescaleDialog->setLimits(positionRange[s][0], positionRange[s][1], positionRange[s][0], positionRange[s][1]);
        rescaleDialog->setWindowTitle(QStringLiteral("Stage %1: Rescale x/y axis").arg(axisId));
        break;
    }
    case 5:
    case 6:
        rescaleDialog->setAxis(axisId);
        rescaleDialog->setLimits(PlotConfigurator::intensityMax, 0.0, PlotConfigurator::intensityMax, 0.0);
        rescaleDialog->setWindowTitle(QStringLiteral("Stage %1: Rescale i axis").arg(axisId - 4));
        break;
    default:
        return;
    }
    rescaleDialog->setUpper(max);
    rescaleDialog->setLower(min);
    rescaleDialog->show();
    rescaleDialog->raise();
    rescaleDialog->activateWindow();
}

void AxisRescaler::showRescaleTimeAxisDialog(int axisId, int lower, int upper)
{
    if (axisId != 3 && axisId != 4)
        return;
    rescaleTimeDialog->setAxis(axisId);
    rescaleTimeDialog->setWindowTitle(QStringLiteral("Stage %1:  Rescale Time Axis").arg(axisId - 2));
    rescaleTimeDialog->setLower(lower);
    rescaleTimeDialog->setUpper(upper);
    rescaleTimeDialog->show();
    rescaleTimeDialog->raise();
    rescaleTimeDialog->activateWindow();
}

void AxisRescaler::rescaleAxis(int id, double lower, double upper, bool bothStages)
{
    // A position range goes to the other stage only when both show the same unit.
    const bool sameUnit = unitLabel[0]->text() == unitLabel[1]->text();
    for (int s = 0; s < 2; ++s) {
        const int own = 1 + s, other = 2 - s;
        if (id == own || (id == other && bothStages && sameUnit)) {
            plots.time[s]->setAxisScale(QwtPlot::yLeft, lower, upper);
            plots.time[s]->replot();
        }
        if (id == own + 4 || (id == other + 4 && bothStages)) {
            plots.intensity[s]->setAxisScale(QwtPlot::yLeft, lower, upper);
            plots.intensity[s]->replot();
        }
    }
}

void AxisRescaler::rescaleTimeAxis(int axisId, int lower, int upper, bool bothStages)
{
    for (int s = 0; s < 2; ++s) {
        const int own = 3 + s, other = 4 - s;
        if (axisId != own && !(axisId == other && bothStages))
            continue;
        // The sweep restarts once it has run past the upper limit.
        tick.timeWindow[s] = upper * 1000.0;
        plots.time[s]->setAxisScale(QwtPlot::xTop, lower, upper);
        plots.time[s]->setAxisScale(QwtPlot::xBottom, lower, upper);
        PlotConfigurator::drawWhiteLine(plots.time[s], tick.timeWindow[s]);
        plots.time[s]->replot();
        plots.intensity[s]->setAxisScale(QwtPlot::xBottom, lower, upper);
        plots.intensity[s]->replot();
    }
}
