#include "display/PlotConfigurator.h"

#include "display/GenericPlot.h"

#include <QColor>
#include <QCursor>

namespace PlotConfigurator {

namespace {
void setTimeAxes(GenericPlot* plot)
{
    plot->setAxisScale(QwtPlot::xTop, 0.0, timeAxisSeconds);
    plot->setAxisScale(QwtPlot::xBottom, 0.0, timeAxisSeconds);
}

void makeViewOnly(GenericPlot* plot)
{
    plot->disableZoomer();
    plot->canvas()->setCursor(Qt::ArrowCursor);
}
} // namespace

void configurePositionPlot(GenericPlot* plot)
{
    plot->setAccumulate(false);
    plot->setTrailLength(positionTrailLength);
    plot->setSymbolSize(QSize(3, 3));
    plot->setCanvasBackground(QColor("lightblue"));
    plot->drawCrossHairs();
    plot->replot();
}

void configureTimePlot(GenericPlot* plot)
{
    plot->setAccumulate(true);
    plot->enableAxis(QwtPlot::xBottom, false);
    plot->enableAxis(QwtPlot::yRight, false);
    setTimeAxes(plot);
    plot->setAxisScale(QwtPlot::yLeft, -5.0, 5.0);
    plot->setAxisMaxMajor(QwtPlot::yLeft, 5);
    plot->setCanvasBackground(QColor("lightblue"));
    makeViewOnly(plot);
    drawWhiteLine(plot, sweepWidthMs);
    plot->replot();
}

void configureIntensityPlot(GenericPlot* plot)
{
    plot->setAccumulate(true);
    plot->enableAxis(QwtPlot::xTop, false);
    plot->enableAxis(QwtPlot::yRight, false);
    setTimeAxes(plot);
    plot->setAxisScale(QwtPlot::yLeft, 0.0, intensityMax);
    plot->setAxisMaxMajor(QwtPlot::yLeft, 5);
    plot->setAxisMaxMinor(QwtPlot::yLeft, 3);
    plot->setCanvasBackground(QColor("azure"));
    makeViewOnly(plot);
    plot->replot();
}

void drawWhiteLine(GenericPlot* timePlot, double width)
{
    timePlot->drawZeroLine(width);
}

} // namespace PlotConfigurator
