#include "display/PlotCurve.h"

#include <qwt_painter.h>
#include <qwt_scale_map.h>
#include <qwt_series_data.h>
#include <qwt_symbol.h>

#include <QImage>
#include <QPaintEngine>
#include <QPainter>

#include <cmath>

PlotCurve::PlotCurve(const QString& title)
    : QwtPlotCurve(title)
{
}

bool PlotCurve::fastPathPossible(const QPainter* painter)
{
    if (painter->paintEngine()->type() != QPaintEngine::Raster)
        return false;
    if (painter->testRenderHint(QPainter::Antialiasing))
        return false;
    // Pixel stamps are only exact when the painter merely shifts by whole
    // pixels.
    const QTransform& t = painter->transform();
    if (t.type() > QTransform::TxTranslate)
        return false;
    return t.dx() == std::floor(t.dx()) && t.dy() == std::floor(t.dy());
}

const PlotCurve::Stamp& PlotCurve::stamp(const QwtSymbol& symbol) const
{
    if (m_stamp.symbol == &symbol && m_stamp.style == symbol.style()
        && m_stamp.size == symbol.size() && m_stamp.brush == symbol.brush()
        && m_stamp.pen == symbol.pen())
        return m_stamp;

    // The pixels a symbol covers do not depend on its colour when pen and
    // brush share one opaque colour; such shapes are analysed once and
    // shared by all curves (50 controllers differ only in colour).
    const QColor colour = symbol.brush().color();
    const bool uniform = symbol.brush().style() == Qt::SolidPattern
        && symbol.pen().color() == colour && colour.alpha() == 255;
    QVector<Stamp>& shared = sharedShapes();
    if (uniform) {
        for (const Stamp& known : qAsConst(shared)) {
            if (known.style == symbol.style() && known.size == symbol.size()
                && known.pen.widthF() == symbol.pen().widthF()
                && known.pen.style() == symbol.pen().style()) {
                m_stamp = known;
                m_stamp.symbol = &symbol;
                m_stamp.brush = symbol.brush();
                m_stamp.pen = symbol.pen();
                m_stamp.colour = QColor::fromRgba(colour.rgba());
                return m_stamp;
            }
        }
    }
    m_stamp = analyse(symbol);
    if (uniform && m_stamp.solid) {
        if (shared.size() >= 16)
            shared.removeFirst();
        shared.append(m_stamp);
    }
    return m_stamp;
}

QVector<PlotCurve::Stamp>& PlotCurve::sharedShapes()
{
    static QVector<Stamp> shapes;
    return shapes;
}

PlotCurve::Stamp PlotCurve::analyse(const QwtSymbol& symbol)
{
    Stamp stamp;
    stamp.symbol = &symbol;
    stamp.style = symbol.style();
    stamp.size = symbol.size();
    stamp.brush = symbol.brush();
    stamp.pen = symbol.pen();

    // Let Qwt draw the symbol once at a known pixel and read back its pixels.
    const QRect bounds = symbol.boundingRect();
    const int margin = 2;
    const QPoint origin(margin - bounds.left(), margin - bounds.top());
    QImage image(bounds.width() + 2 * margin, bounds.height() + 2 * margin,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        const QPointF at(origin);
        symbol.drawSymbols(&painter, &at, 1);
    }

    QRgb colour = 0;
    bool solid = true;
    for (int y = 0; y < image.height() && solid; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int x = 0;
        while (x < image.width() && solid) {
            if (qAlpha(line[x]) == 0) {
                ++x;
                continue;
            }
            if (qAlpha(line[x]) != 255 || (colour != 0 && line[x] != colour)) {
                solid = false;
                break;
            }
            colour = line[x];
            const int start = x;
            while (x < image.width() && line[x] == colour)
                ++x;
            const QRect run(start - origin.x(), y - origin.y(), x - start, 1);
            // Rows that repeat the row above grow its rectangle downwards.
            bool merged = false;
            for (QRect& r : stamp.rects) {
                if (r.left() == run.left() && r.width() == run.width()
                    && r.bottom() + 1 == run.top()) {
                    r.setBottom(run.bottom());
                    merged = true;
                    break;
                }
            }
            if (!merged)
                stamp.rects.append(run);
        }
    }
    stamp.solid = solid && colour != 0;
    if (stamp.solid) {
        stamp.colour = QColor::fromRgba(colour);
        for (const QRect& r : qAsConst(stamp.rects))
            stamp.coversCentre = stamp.coversCentre || r.contains(0, 0);
    } else {
        stamp.rects.clear();
    }
    return stamp;
}

bool PlotCurve::symbolStampable() const
{
    return symbol() && symbol()->style() != QwtSymbol::NoSymbol && stamp(*symbol()).solid;
}

bool PlotCurve::pixelStamp(QPainter* painter, QVector<QRect>& shape, QRgb& colour) const
{
    if (!symbol() || symbol()->style() == QwtSymbol::NoSymbol || !testPaintAttribute(FilterPoints)
        || testRenderHint(RenderAntialiased) || !fastPathPossible(painter)
        || !QwtPainter::roundingAlignment(painter))
        return false;
    const Stamp& s = stamp(*symbol());
    if (!s.solid)
        return false;
    // The dots under the symbols must be hidden by them (see drawCurve).
    const bool hiddenDots = style() == Dots && pen().widthF() <= 1.0
        && brush().style() == Qt::NoBrush && s.coversCentre;
    if (style() != NoCurve && !hiddenDots)
        return false;
    shape = s.rects;
    colour = s.colour.rgba();
    return true;
}

void PlotCurve::drawCurve(QPainter* painter, int style, const QwtScaleMap& xMap,
                          const QwtScaleMap& yMap, const QRectF& canvasRect, int from,
                          int to) const
{
    // A dot of at most one pixel, without fill, lands on the pixel the
    // symbol covers next: drawing it would be overwritten straight away.
    if (style == Dots && symbol() && symbol()->style() != QwtSymbol::NoSymbol
        && pen().widthF() <= 1.0 && brush().style() == Qt::NoBrush
        && fastPathPossible(painter)) {
        const Stamp& s = stamp(*symbol());
        if (s.solid && s.coversCentre)
            return;
    }
    QwtPlotCurve::drawCurve(painter, style, xMap, yMap, canvasRect, from, to);
}

void PlotCurve::drawSymbols(QPainter* painter, const QwtSymbol& symbol, const QwtScaleMap& xMap,
                            const QwtScaleMap& yMap, const QRectF& canvasRect, int from,
                            int to) const
{
    if (!fastPathPossible(painter) || !QwtPainter::roundingAlignment(painter)) {
        QwtPlotCurve::drawSymbols(painter, symbol, xMap, yMap, canvasRect, from, to);
        return;
    }
    const Stamp& s = stamp(symbol);
    if (!s.solid || !testPaintAttribute(FilterPoints)) {
        QwtPlotCurve::drawSymbols(painter, symbol, xMap, yMap, canvasRect, from, to);
        return;
    }

    // The points QwtPlotCurve would stamp when filtering: rounded positions
    // inside the canvas. Its weeding of points on the same pixel is left out;
    // stamping a solid symbol twice on one pixel changes nothing.
    const QRect bounds = canvasRect.toAlignedRect();
    const QwtSeriesData<QPointF>* series = data();
    const auto* array = dynamic_cast<const QwtArraySeriesData<QPointF>*>(series);
    const QPointF* samples = array ? array->samples().constData() : nullptr;

    const int stampRects = s.rects.size();
    QVector<QRect>& rects = m_rectBuffer;
    rects.resize((to - from + 1) * stampRects);
    QRect* out = rects.data();
    for (int i = from; i <= to; ++i) {
        const QPointF sample = samples ? samples[i] : series->sample(i);
        const int x = qRound(xMap.transform(sample.x()));
        const int y = qRound(yMap.transform(sample.y()));
        if (x < bounds.left() || x > bounds.right() || y < bounds.top() || y > bounds.bottom())
            continue;
        for (int k = 0; k < stampRects; ++k)
            *out++ = s.rects.at(k).translated(x, y);
    }
    const int count = int(out - rects.constData());
    if (count == 0)
        return;
    painter->save();
    painter->setPen(Qt::NoPen);
    painter->setBrush(s.colour);
    painter->drawRects(rects.constData(), count);
    painter->restore();
}
