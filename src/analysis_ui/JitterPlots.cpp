#include "JitterPlots.h"

#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPen>

#include <qwt_legend.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_renderer.h>
#include <qwt_scale_engine.h>
#include <qwt_text.h>

#include <cmath>
#include <memory>

namespace {

const QColor curveColors[4] = {QColor(0, 90, 200), QColor(210, 40, 40), QColor(0, 140, 60), QColor(230, 140, 0)};

// Log axes take positive values only: DC bins, zero spectra and NaN fall out.
void addPoint(QVector<QPointF> &points, double x, double y)
{
    if (x > 0 && y > 0 && std::isfinite(x) && std::isfinite(y))
        points.append(QPointF(x, y));
}

QwtPlot *createLogPlot(QWidget *parent, const QString &title, const QString &xTitle, const QString &yTitle)
{
    auto *plot = new QwtPlot(parent);
    plot->setTitle(title);
    plot->setCanvasBackground(Qt::white);
    plot->setAxisScaleEngine(QwtPlot::xBottom, new QwtLogScaleEngine);
    plot->setAxisScaleEngine(QwtPlot::yLeft, new QwtLogScaleEngine);
    plot->setAxisTitle(QwtPlot::xBottom, xTitle);
    plot->setAxisTitle(QwtPlot::yLeft, yTitle);
    auto *grid = new QwtPlotGrid;
    grid->enableXMin(true);
    grid->setMajorPen(QColor(200, 200, 200), 0, Qt::SolidLine);
    grid->setMinorPen(QColor(230, 230, 230), 0, Qt::DotLine);
    grid->attach(plot);
    plot->insertLegend(new QwtLegend, QwtPlot::BottomLegend);
    plot->setAccessibleName(title);
    return plot;
}

void removeCurves(QwtPlot *plot)
{
    plot->detachItems(QwtPlotItem::Rtti_PlotCurve, true);
}

QString unitText(const std::vector<JitterAnalysis::Axis> &axes)
{
    QString unit;
    for (const auto &a : axes) {
        if (unit.isEmpty())
            unit = a.unit;
        else if (a.unit != unit)
            return QString(); // stages in different units: named per curve
    }
    return unit;
}

QwtPlotCurve *addCurve(QwtPlot *plot, const QString &name, const QColor &color, Qt::PenStyle style,
                       const QVector<QPointF> &points, int yAxis = QwtPlot::yLeft, bool inLegend = true)
{
    auto *curve = new QwtPlotCurve(name);
    curve->setItemAttribute(QwtPlotItem::Legend, inLegend);
    curve->setPen(color, style == Qt::SolidLine ? 1.0 : 1.5, style);
    curve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
    curve->setSamples(points);
    curve->setYAxis(yAxis);
    curve->attach(plot);
    return curve;
}

} // namespace

QString JitterPlots::curveName(const JitterAnalysis::Axis &axis)
{
    return QStringLiteral("stage %1 %2").arg(axis.stage).arg(QLatin1Char(axis.axis));
}

QwtPlot *JitterPlots::createSpectrumPlot(QWidget *parent)
{
    QwtPlot *plot = createLogPlot(parent, QStringLiteral("Amplitude spectral density"),
                                  QStringLiteral("Frequency (Hz)"), QStringLiteral("ASD"));
    plot->enableAxis(QwtPlot::yRight, true);
    plot->setAxisScaleEngine(QwtPlot::yRight, new QwtLogScaleEngine);
    plot->setAxisTitle(QwtPlot::yRight, QStringLiteral("Cumulative RMS (dashed)"));
    return plot;
}

QwtPlot *JitterPlots::createAllanPlot(QWidget *parent)
{
    return createLogPlot(parent, QStringLiteral("Allan deviation"), QStringLiteral("Averaging time (s)"),
                         QStringLiteral("Allan deviation"));
}

void JitterPlots::showSpectra(QwtPlot *plot, const std::vector<JitterAnalysis::Axis> &axes)
{
    removeCurves(plot);
    const QString unit = unitText(axes);
    plot->setAxisTitle(QwtPlot::yLeft, unit.isEmpty() ? QStringLiteral("ASD (unit/\u221aHz)")
                                                      : QStringLiteral("ASD (%1/\u221aHz)").arg(unit));
    plot->setAxisTitle(QwtPlot::yRight, unit.isEmpty() ? QStringLiteral("Cumulative RMS, dashed")
                                                       : QStringLiteral("Cumulative RMS (%1), dashed").arg(unit));
    for (std::size_t i = 0; i < axes.size(); ++i) {
        const auto &a = axes[i];
        QVector<QPointF> asd, cumulative;
        for (std::size_t k = 1; k < a.spectrum.asd.size(); ++k) {
            addPoint(asd, a.spectrum.frequency[k], a.spectrum.asd[k]);
            addPoint(cumulative, a.spectrum.frequency[k], a.cumulativeRms[k]);
        }
        const QString name = unit.isEmpty() ? curveName(a) + QStringLiteral(" (%1)").arg(a.unit) : curveName(a);
        addCurve(plot, name, curveColors[i % 4], Qt::SolidLine, asd);
        addCurve(plot, name, curveColors[i % 4], Qt::DashLine, cumulative, QwtPlot::yRight, false);
    }
    plot->replot();
}

void JitterPlots::showAllan(QwtPlot *plot, const std::vector<JitterAnalysis::Axis> &axes)
{
    removeCurves(plot);
    const QString unit = unitText(axes);
    plot->setAxisTitle(QwtPlot::yLeft, unit.isEmpty() ? QStringLiteral("Allan deviation")
                                                      : QStringLiteral("Allan deviation (%1)").arg(unit));
    for (std::size_t i = 0; i < axes.size(); ++i) {
        QVector<QPointF> points;
        for (const auto &p : axes[i].allan)
            addPoint(points, p.tau, p.deviation);
        const QString name =
            unit.isEmpty() ? curveName(axes[i]) + QStringLiteral(" (%1)").arg(axes[i].unit) : curveName(axes[i]);
        QwtPlotCurve *c = addCurve(plot, name, curveColors[i % 4], Qt::SolidLine, points);
        c->setPen(curveColors[i % 4], 2.0);
    }
    plot->replot();
}

bool JitterPlots::renderPng(const std::vector<JitterAnalysis::Axis> &axes, const QString &title, const QString &path,
                            int width, int height, QString &error)
{
    std::unique_ptr<QwtPlot> spectrum(createSpectrumPlot());
    std::unique_ptr<QwtPlot> allan(createAllanPlot());
    showSpectra(spectrum.get(), axes);
    showAllan(allan.get(), axes);

    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        const int titleHeight = 28;
        painter.drawText(QRect(0, 0, width, titleHeight), Qt::AlignCenter, title);
        const int plotHeight = (height - titleHeight) / 2;
        QwtPlotRenderer renderer;
        renderer.setDiscardFlag(QwtPlotRenderer::DiscardBackground, false);
        renderer.setLayoutFlag(QwtPlotRenderer::FrameWithScales, true);
        renderer.render(spectrum.get(), &painter, QRectF(0, titleHeight, width, plotHeight));
        renderer.render(allan.get(), &painter, QRectF(0, titleHeight + plotHeight, width, plotHeight));
    }
    QImageWriter writer(path, "png");
    if (!writer.write(image)) {
        error = QStringLiteral("cannot write '%1': %2").arg(path, writer.errorString());
        return false;
    }
    return true;
}
