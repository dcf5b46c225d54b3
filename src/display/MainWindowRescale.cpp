// The main window's system configuration overview and axis rescaling: the
// dialogs, their wiring, and what a new axis range does to the plots.

#include "display/MainWindow.h"

#include "ui_mainwindow.h"

#include "display/AxisClickFilter.h"
#include "display/GenericPlot.h"
#include "display/PlotConfigurator.h"
#include "display/RescaleDialog.h"
#include "display/RescaleTimeAxisDialog.h"
#include "overview/ConnectionOverviewDialog.h"

#include <QAction>

#include <qwt_scale_div.h>

void MainWindow::buildOverviewAndRescale()
{
    rescaleDialog = std::make_unique<RescaleDialog>();
    rescaleTimeDialog = std::make_unique<RescaleTimeAxisDialog>();
    connect(rescaleDialog.get(), &RescaleDialog::axisRescaled, this, &MainWindow::rescaleAxis);
    connect(rescaleTimeDialog.get(), &RescaleTimeAxisDialog::axisRescaled, this, &MainWindow::rescaleTimeAxis);
    axisClicks = new AxisClickFilter(this);
    axisClicks->watch(plots);
    connect(axisClicks, &AxisClickFilter::axisClicked, this, &MainWindow::openAxisDialog);

    overview = new ConnectionOverviewDialog(this);
    connect(overview, &ConnectionOverviewDialog::displayConnection, this, &MainWindow::showConnection);
    connect(overview, &ConnectionOverviewDialog::changeColor, this, &MainWindow::updateColorGraph);
    connect(overview, &ConnectionOverviewDialog::changeStage, this, &MainWindow::activeStage);
    ui->actionSystemConfiguration->setEnabled(true);
    connect(ui->actionSystemConfiguration, &QAction::triggered, overview, [this] {
        overview->show();
        overview->raise();
        overview->activateWindow();
    });
}

// An axis was clicked: open its dialog with the range it shows now.
void MainWindow::openAxisDialog(int axisID)
{
    const int s = (axisID % 2 == 0) ? 1 : 0;
    if (axisID == 1 || axisID == 2) {
        const QwtScaleDiv &scale = plots.time[s]->axisScaleDiv(QwtPlot::yLeft);
        showRescaleDialog(axisID, scale.upperBound(), scale.lowerBound());
    } else if (axisID == 5 || axisID == 6) {
        const QwtScaleDiv &scale = plots.intensity[s]->axisScaleDiv(QwtPlot::yLeft);
        showRescaleDialog(axisID, scale.upperBound(), scale.lowerBound());
    } else if (axisID == 3 || axisID == 4) {
        const QwtScaleDiv &scale = plots.time[s]->axisScaleDiv(QwtPlot::xTop);
        showRescaleTimeAxisDialog(axisID, int(scale.lowerBound()), int(scale.upperBound()));
    }
}

void MainWindow::showRescaleDialog(int axisID, double max, double min)
{
    switch (axisID) {
    case 1:
    case 2: {
        const int s = axisID - 1;
        rescaleDialog->setAxis(axisID);
        rescaleDialog->setLimits(positionRange[s][0], positionRange[s][1], positionRange[s][0], positionRange[s][1]);
        rescaleDialog->setWindowTitle(QStringLiteral("Stage %1: Rescale x/y axis").arg(axisID));
        break;
    }
    case 5:
    case 6:
        rescaleDialog->setAxis(axisID);
        rescaleDialog->setLimits(PlotConfigurator::intensityMax, 0.0, PlotConfigurator::intensityMax, 0.0);
        rescaleDialog->setWindowTitle(QStringLiteral("Stage %1: Rescale i axis").arg(axisID - 4));
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

void MainWindow::showRescaleTimeAxisDialog(int axisID, int lower, int upper)
{
    if (axisID != 3 && axisID != 4)
        return;
    rescaleTimeDialog->setAxis(axisID);
    rescaleTimeDialog->setWindowTitle(QStringLiteral("Stage %1:  Rescale Time Axis").arg(axisID - 2));
    rescaleTimeDialog->setLower(lower);
    rescaleTimeDialog->setUpper(upper);
    rescaleTimeDialog->show();
    rescaleTimeDialog->raise();
    rescaleTimeDialog->activateWindow();
}

void MainWindow::rescaleAxis(int id, double lower, double upper, bool pairCheck)
{
    // A position range goes to the other stage only when both show the same unit.
    const bool sameUnit = ui->label_positionUnit->text() == ui->label_positionUnit_2->text();
    for (int s = 0; s < 2; ++s) {
        const int own = 1 + s, other = 2 - s;
        if (id == own || (id == other && pairCheck && sameUnit)) {
            plots.time[s]->setAxisScale(QwtPlot::yLeft, lower, upper);
            plots.time[s]->replot();
        }
        if (id == own + 4 || (id == other + 4 && pairCheck)) {
            plots.intensity[s]->setAxisScale(QwtPlot::yLeft, lower, upper);
            plots.intensity[s]->replot();
        }
    }
}

void MainWindow::rescaleTimeAxis(int axisID, int lower, int upper, bool pairCheck)
{
    for (int s = 0; s < 2; ++s) {
        const int own = 3 + s, other = 4 - s;
        if (axisID != own && !(axisID == other && pairCheck))
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
