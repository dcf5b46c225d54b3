#include "display/GenericPlot.h"

#include "display/Zoomer.h"

#include <qwt_plot_canvas.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_layout.h>
#include <qwt_plot_shapeitem.h>
#include <qwt_scale_widget.h>

#include <QPainterPath>

namespace {
const int allAxes[] = {QwtPlot::yLeft, QwtPlot::yRight, QwtPlot::xBottom, QwtPlot::xTop};
}

GenericPlot::GenericPlot(QWidget* parent)
    : IncrementalPlot(parent)
{
    setFrameStyle(QFrame::NoFrame);
    setLineWidth(0);
    plotLayout()->setAlignCanvasToScales(true);

    m_grid = new QwtPlotGrid;
    const QPen gridPen(Qt::gray, 0, Qt::DotLine);
    m_grid->setMajorPen(gridPen);
    m_grid->setMinorPen(gridPen);
    m_grid->enableX(true);
    m_grid->enableY(true);
    m_grid->enableXMin(true);
    m_grid->enableYMin(true);
    m_grid->attach(this);

    setCanvasBackground(QColor("lightblue"));

    enableAxis(QwtPlot::xTop, true);
    enableAxis(QwtPlot::yRight, true);
    const QFont axisFont("Sans Serif", 8);
    for (int axis : allAxes) {
        setAxisScale(axis, m_rangeMin, m_rangeMax);
        setAxisFont(axis, axisFont);
    }

    m_zoomer = new Zoomer(canvas());
    m_zoomer->setMousePattern(QwtEventPattern::MouseSelect2, Qt::NoButton);
    m_zoomer->setMousePattern(QwtEventPattern::MouseSelect3, Qt::NoButton);
    m_zoomer->setMousePattern(QwtEventPattern::MouseSelect6, Qt::NoButton);
}

GenericPlot::~GenericPlot()
{
    // The zoomer filters the canvas' events; remove it before the canvas goes.
    delete m_zoomer;
    m_zoomer = nullptr;
}

void GenericPlot::start()
{
    if (auto* plotCanvas = qobject_cast<QwtPlotCanvas*>(canvas()))
        plotCanvas->setPaintAttribute(QwtPlotCanvas::BackingStore, false);
}

void GenericPlot::stop()
{
    if (auto* plotCanvas = qobject_cast<QwtPlotCanvas*>(canvas()))
        plotCanvas->setPaintAttribute(QwtPlotCanvas::BackingStore, true);
}

void GenericPlot::clear(int index)
{
    if (index == -1)
        clearAllCurves();
    else
        clearCurve(index);
    replot();
}

void GenericPlot::clear()
{
    clear(-1);
}

QwtPlotShapeItem* GenericPlot::makeLine(const QString& title, const QPointF& from,
                                        const QPointF& to)
{
    auto* item = new QwtPlotShapeItem(title);
    item->setPen(QPen(Qt::darkGray, 1));
    QPainterPath path(from);
    path.lineTo(to);
    item->setShape(path);
    item->attach(this);
    return item;
}

void GenericPlot::drawCrossHairs()
{
    delete m_verticalCrossHair;
    delete m_horizontalCrossHair;
    const double end = m_rangeMin + 2.0 * m_rangeMax;
    m_verticalCrossHair = makeLine(QStringLiteral("Vertikale Mittellinie"),
                                   QPointF(0.0, m_rangeMin), QPointF(0.0, end));
    m_horizontalCrossHair = makeLine(QStringLiteral("Horizontale Mittellinie"),
                                     QPointF(m_rangeMin, 0.0), QPointF(end, 0.0));
}

void GenericPlot::drawZeroLine(double width)
{
    delete m_zeroLine;
    m_zeroLine = makeLine(QStringLiteral("Horizontale Mittellinie"), QPointF(0.0, 0.0),
                          QPointF(width, 0.0));
}

void GenericPlot::disableZoomer()
{
    for (int pattern = QwtEventPattern::MouseSelect1; pattern <= QwtEventPattern::MouseSelect6;
         ++pattern)
        m_zoomer->setMousePattern(static_cast<QwtEventPattern::MousePatternCode>(pattern),
                                  Qt::NoButton);
    m_zoomer->setKeyPattern(QwtEventPattern::KeySelect1, Zoomer::NoKey);
    m_zoomer->setKeyPattern(QwtEventPattern::KeySelect2, Zoomer::NoKey);
    m_zoomer->setKeyPattern(QwtEventPattern::KeyAbort, Zoomer::NoKey);
    m_zoomer->setKeyPattern(QwtEventPattern::KeyHome, Zoomer::NoKey);
}

void GenericPlot::zeroZoomStack()
{
    m_zoomer->setTrackerMode(QwtPicker::AlwaysOff);
}

void GenericPlot::setAllAxes(double min, double max)
{
    for (int axis : allAxes)
        setAxisScale(axis, min, max);
}

void GenericPlot::setRange(double max, double min)
{
    m_rangeMax = max;
    m_rangeMin = min;
    setAllAxes(min, max);
    m_zoomer->setRangeMax(max);
    drawCrossHairs();
    m_zoomer->setZoomBase(true);
}

void GenericPlot::resetZoom()
{
    m_zoomer->zoom(0);
    setAllAxes(m_rangeMin, m_rangeMax);
}
