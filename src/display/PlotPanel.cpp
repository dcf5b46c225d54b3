#include "display/PlotPanel.h"

#include "controller/ControllerRegistry.h"
#include "controller/DisplayUnits.h"
#include "display/AxisRescaler.h"
#include "display/DisplayTick.h"
#include "display/GenericPlot.h"
#include "display/PlotConfigurator.h"
#include "display/PointingStatistics.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

PlotPanel::PlotPanel(DisplayPlots &plots, DisplayTick &tick, ControllerRegistry &registry, DisplayUnits &units,
                     const Widgets &widgets, QWidget *window)
    : QObject(window)
    , plots(plots)
    , tick(tick)
    , registry(registry)
    , units(units)
    , ui(widgets)
    , stats(std::make_unique<PointingStatistics>(plots.position[0], plots.position[1]))
    , axes(new AxisRescaler(plots, tick, widgets.positionUnit, window))
{
    stats->setUnitSource([this](int connection, int stage) {
        if (this->units.lengthUnit(stage) && connection >= 0 && connection < this->registry.count())
            return this->registry.stageDetectors.at(connection).stage(stage - 1)->unitText();
        return Detector().unitText();
    });
    tick.setStatistics(stats.get());
    for (int s = 0; s < 2; ++s) {
        const int stage = s + 1;
        connect(ui.statistics[s], &QCheckBox::toggled, this, [this, stage](bool on) { showStatistics(stage, on); });
        connect(ui.resetPositionZoom[s], &QPushButton::clicked, this, [this, stage] { resetPositionZoom(stage); });
        connect(ui.resetTimeZoom[s], &QPushButton::clicked, this, [this, stage] { resetTimeZoom(stage); });
    }
}

PlotPanel::~PlotPanel() = default;

void PlotPanel::applyUnits(bool pointingMode)
{
    units.update(registry);
    for (int s = 0; s < 2; ++s) {
        const DisplayUnits::Stage &stage = units.stage(s + 1);
        const QString unit = stage.unit();
        const QString caption = QStringLiteral(" [") + unit + QLatin1Char(']');
        const double max = stage.model->rangeMaximum();
        const double min = stage.model->rangeMinimum();
        if (ui.positionUnit[s]->text() == caption && axes->positionMaximum(s + 1) == max)
            continue;
        if (stage.lengthUnit == 0 && unit != Detector().unitText())
            continue;
        ui.positionUnit[s]->setText(caption);
        ui.timeX[s]->setText(QStringLiteral("X") + caption);
        ui.timeY[s]->setText(QStringLiteral("Y") + caption);
        ui.readingX[s]->setText(QStringLiteral("Position x") + caption);
        ui.readingY[s]->setText(QStringLiteral("Position y") + caption);
        axes->setPositionRange(s + 1, max, min, stage.model->unitKind());
        plots.time[s]->setAxisScale(QwtPlot::yLeft, min, max);
        plots.position[s]->setRange(max, min);
        plots.position[s]->resetZoom();
        plots.position[s]->clear();
        plots.time[s]->clear();
        plots.intensity[s]->clear();
        if (pointingMode)
            clearStatistics();
    }
}

void PlotPanel::startPlots()
{
    for (int s = 0; s < 2; ++s) {
        plots.position[s]->start();
        plots.time[s]->start();
        plots.intensity[s]->start();
    }
}

void PlotPanel::stopPlots()
{
    for (int s = 0; s < 2; ++s) {
        plots.position[s]->stop();
        plots.time[s]->stop();
        plots.intensity[s]->stop();
        plots.position[s]->replot();
    }
}

void PlotPanel::clearPlots()
{
    for (int s = 0; s < 2; ++s) {
        plots.position[s]->clear();
        plots.time[s]->clear();
        plots.intensity[s]->clear();
    }
}

void PlotPanel::resetPositionZoom(int stage)
{
    GenericPlot *plot = plots.position[stage == 2 ? 1 : 0];
    plot->resetZoom();
    plot->replot();
}

void PlotPanel::resetTimeZoom(int stage)
{
    const int s = stage == 2 ? 1 : 0;
    plots.time[s]->setAxisScale(QwtPlot::yLeft, axes->positionMinimum(stage), axes->positionMaximum(stage));
    plots.time[s]->replot();
    axes->rescaleTimeAxis(3 + s, 0, int(PlotConfigurator::timeAxisSeconds), false);
    plots.intensity[s]->setAxisScale(QwtPlot::yLeft, 0.0, PlotConfigurator::intensityMax);
    plots.intensity[s]->replot();
}

void PlotPanel::drawWhiteLine(double width)
{
    PlotConfigurator::drawWhiteLine(plots.time[0], width);
    PlotConfigurator::drawWhiteLine(plots.time[1], width);
}

void PlotPanel::clearStatistics()
{
    tick.samplesTaken = 0;
    stats->clear();
}

void PlotPanel::enableStatistics(bool on)
{
    if (!on) {
        for (int s = 0; s < 2; ++s)
            ui.statistics[s]->setChecked(false);
        stats->setShown(1, false);
        stats->setShown(2, false);
        for (int s = 0; s < 2; ++s)
            ui.statistics[s]->setEnabled(false);
        return;
    }
    for (int s = 0; s < 2; ++s)
        ui.statistics[s]->setEnabled(true);
    for (int s = 0; s < 2; ++s)
        showStatistics(s + 1, ui.statistics[s]->isChecked());
}

void PlotPanel::showStatistics(int stage, bool on)
{
    stats->setShown(stage, on, registry.singleDisplayed(), tick.samplesTaken);
}
