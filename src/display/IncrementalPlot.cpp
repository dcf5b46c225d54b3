#include "display/IncrementalPlot.h"

#include "display/CurveData.h"
#include "display/PlotCurve.h"

#include <qwt_plot_curve.h>
#include <qwt_scale_map.h>
#include <qwt_symbol.h>

#include <QPainter>

namespace {
const QColor defaultCurveColour(0, 0, 254);
}

IncrementalPlot::IncrementalPlot(QWidget* parent)
    : QwtPlot(parent)
{
    setAutoReplot(false);
}

IncrementalPlot::~IncrementalPlot()
{
    // The curves are plot items; QwtPlot deletes attached items itself, so
    // detach and delete them here to keep the ownership in one place.
    for (QwtPlotCurve* curve : qAsConst(m_curves)) {
        curve->detach();
        delete curve;
    }
}

bool IncrementalPlot::addCurve(int i)
{
    if (i < 0 || i > m_curves.size())
        return false;
    auto* curve = new PlotCurve(QString::number(m_curves.size()));
    curve->setStyle(QwtPlotCurve::Dots);
    // Symbols and dots are drawn by Qwt straight from the series; clipping to
    // the canvas and weeding out points that land on the same pixel keep the
    // cost of a full replot bounded without changing the picture.
    curve->setPaintAttribute(QwtPlotCurve::ClipPolygons, true);
    curve->setPaintAttribute(QwtPlotCurve::FilterPoints, true);
    auto* data = new CurveData;
    curve->setData(data);
    m_curves.insert(i, curve);
    m_colours.insert(i, defaultCurveColour);
    updateSymbol(i);
    curve->attach(this);
    return true;
}

bool IncrementalPlot::removeCurve(int i)
{
    if (i >= m_curves.size())
        return false;
    if (i < 0)
        return true;
    QwtPlotCurve* curve = m_curves.takeAt(i);
    m_colours.removeAt(i);
    curve->detach();
    delete curve;
    return true;
}

void IncrementalPlot::setCurveColor(const QColor& colour, int i)
{
    if (i < 0 || i >= m_colours.size())
        return;
    // The symbol takes the new colour with the next appended point.
    m_colours[i] = colour;
}

QColor IncrementalPlot::curveColor(int i) const
{
    return (i >= 0 && i < m_colours.size()) ? m_colours.at(i) : QColor();
}

QwtPlotCurve* IncrementalPlot::curve(int i) const
{
    return (i >= 0 && i < m_curves.size()) ? m_curves.at(i) : nullptr;
}

const CurveData* IncrementalPlot::curveData(int i) const
{
    return data(i);
}

CurveData* IncrementalPlot::data(int i) const
{
    if (i < 0 || i >= m_curves.size())
        return nullptr;
    return static_cast<CurveData*>(m_curves.at(i)->data());
}

void IncrementalPlot::setSymbolSize(const QSize& size)
{
    m_symbolSize = size;
}

void IncrementalPlot::setTrailLength(int length)
{
    m_trailLength = qMax(1, length);
}

void IncrementalPlot::setAccumulate(bool on)
{
    m_accumulate = on;
    if (!on)
        clearAllCurves();
    replot();
}

void IncrementalPlot::updateSymbol(int i)
{
    QwtPlotCurve* curve = m_curves.at(i);
    const QColor& colour = m_colours.at(i);
    // Building a symbol throws away Qwt's cached symbol pixmap, so a new one
    // is made only when colour or size differ from the current symbol.
    const QwtSymbol* current = curve->symbol();
    if (current && current->size() == m_symbolSize && current->brush().color() == colour
        && current->pen().color() == colour)
        return;
    auto* symbol = new QwtSymbol(QwtSymbol::Ellipse, QBrush(colour), QPen(colour), m_symbolSize);
    curve->setSymbol(symbol);
}

void IncrementalPlot::appendData(int i, const QPointF& point)
{
    CurveData* series = data(i);
    if (!series)
        return;
    series->append(point);
    QwtPlotCurve* curve = m_curves.at(i);
    if (curve->style() != QwtPlotCurve::Dots)
        curve->setStyle(QwtPlotCurve::Dots);
    updateSymbol(i);
    if (!m_accumulate && series->count() >= m_trailLength + 1)
        series->removeFirst();
}

void IncrementalPlot::clearCurve(int i)
{
    CurveData* series = data(i);
    if (!series)
        return;
    series->clear();
    replot();
}

void IncrementalPlot::clearAllCurves()
{
    for (int i = 0; i < m_curves.size(); ++i)
        data(i)->clear();
    replot();
}

void IncrementalPlot::drawItems(QPainter* painter, const QRectF& canvasRect,
                                const QwtScaleMap maps[axisCnt]) const
{
    if (!m_accumulate || !drawThroughLayer(painter, canvasRect, maps)) {
        m_layer.release();
        QwtPlot::drawItems(painter, canvasRect, maps);
    }
}

bool IncrementalPlot::drawThroughLayer(QPainter* painter, const QRectF& canvasRect,
                                       const QwtScaleMap maps[axisCnt]) const
{
    // The layer stands in for the curves where the first of them is drawn,
    // so they must follow one another in the drawing order, with nothing
    // else between them.
    const QwtPlotItemList& items = itemList();
    int first = -1;
    int last = -1;
    for (int i = 0; i < items.size(); ++i) {
        const QwtPlotItem* item = items.at(i);
        if (item->rtti() != QwtPlotItem::Rtti_PlotCurve
            || !m_curves.contains(static_cast<QwtPlotCurve*>(const_cast<QwtPlotItem*>(item))))
            continue;
        if (first < 0)
            first = i;
        last = i;
    }
    if (first < 0 || last - first + 1 != m_curves.size() || m_curves.size() > CurveLayer::maxCurves)
        return false;

    const QwtPlotItem* lead = items.at(first);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    m_layerCurves.resize(0);
    bool stampable = true;
    for (int i = first; i <= last && stampable; ++i) {
        const auto* curve = static_cast<const PlotCurve*>(items.at(i));
        if (!curve->isVisible())
            continue;
        CurveLayer::Curve entry;
        entry.item = curve;
        entry.data = dynamic_cast<const CurveData*>(curve->data());
        stampable = entry.data && curve->xAxis() == lead->xAxis() && curve->yAxis() == lead->yAxis()
            && curve->pixelStamp(painter, entry.shape, entry.colour);
        m_layerCurves.append(entry);
    }
    painter->restore();
    if (!stampable)
        return false;

    // The other items as QwtPlot draws them, the layer in the curves' place.
    for (int i = 0; i < items.size(); ++i) {
        QwtPlotItem* item = items.at(i);
        if (i == first) {
            painter->save();
            m_layer.paint(painter, m_layerCurves, maps[lead->xAxis()], maps[lead->yAxis()],
                          canvasRect.toAlignedRect());
            painter->restore();
        }
        if ((i >= first && i <= last) || !item->isVisible())
            continue;
        painter->save();
        const bool antialiased = item->testRenderHint(QwtPlotItem::RenderAntialiased);
        painter->setRenderHint(QPainter::Antialiasing, antialiased);
        item->draw(painter, maps[item->xAxis()], maps[item->yAxis()], canvasRect);
        painter->restore();
    }
    return true;
}
