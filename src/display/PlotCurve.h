#pragma once

#include <qwt_plot_curve.h>

#include <QColor>
#include <QPen>
#include <QRect>
#include <QVector>

// A dot curve whose points are drawn with a small single-coloured symbol,
// with two shortcuts for the raster engine that leave the picture unchanged:
// - the one-pixel dot of a point is not drawn when the symbol drawn on top
//   of it covers that pixel opaquely;
// - the symbol is stamped as a few solid rectangles per point, collected
//   into one call, instead of one pixmap copy per point.
// Plots whose curves accumulate draw them all at once through a CurveLayer,
// which uses the same stamps (pixelStamp).
// Anything else (other engines, scaled painters, antialiased or
// multi-coloured symbols) goes through the ordinary QwtPlotCurve drawing.
class PlotCurve : public QwtPlotCurve
{
public:
    explicit PlotCurve(const QString& title = QString());

    // Whether the current symbol qualifies for the shortcuts; for tests and
    // benchmarks.
    bool symbolStampable() const;

    // The rectangles around a point's pixel and the opaque colour that draw
    // this curve exactly with the painter as it stands; false when the curve
    // needs its ordinary drawing (see CurveLayer).
    bool pixelStamp(QPainter* painter, QVector<QRect>& shape, QRgb& colour) const;

protected:
    void drawCurve(QPainter* painter, int style, const QwtScaleMap& xMap,
                   const QwtScaleMap& yMap, const QRectF& canvasRect, int from,
                   int to) const override;
    void drawSymbols(QPainter* painter, const QwtSymbol& symbol, const QwtScaleMap& xMap,
                     const QwtScaleMap& yMap, const QRectF& canvasRect, int from,
                     int to) const override;

private:
    // The pixels of the current symbol relative to the point's pixel,
    // merged into rectangles, when all of them are opaque and of one colour.
    struct Stamp {
        const QwtSymbol* symbol = nullptr;
        int style = -1;
        QSize size;
        QBrush brush;
        QPen pen;
        bool solid = false;
        bool coversCentre = false;
        QColor colour;
        QVector<QRect> rects;
    };

    const Stamp& stamp(const QwtSymbol& symbol) const;
    static Stamp analyse(const QwtSymbol& symbol);
    static QVector<Stamp>& sharedShapes();
    static bool fastPathPossible(const QPainter* painter);

    mutable Stamp m_stamp;
    // Reused between replots so stamping allocates nothing per frame.
    mutable QVector<QRect> m_rectBuffer;
};
