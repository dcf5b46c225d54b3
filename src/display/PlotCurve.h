#pragma once

#include "display/PixelColumns.h"

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
//   into one call, instead of one pixmap copy per point;
// - the points that land on one pixel column are stamped once per run of
//   adjacent covered rows (PixelColumns), and while the series only grows
//   and the scales stay, the rectangles of the points drawn before are kept,
//   so a replot maps only the points added since.
// Anything else (other engines, scaled painters, antialiased or
// multi-coloured symbols) goes through the ordinary QwtPlotCurve drawing.
class PlotCurve : public QwtPlotCurve
{
public:
    explicit PlotCurve(const QString& title = QString());

    // Whether the current symbol qualifies for the shortcuts; for tests and
    // benchmarks.
    bool symbolStampable() const;

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

    // What the kept rectangles were built from; any difference rebuilds them.
    struct ColumnsKey {
        const void* series = nullptr;
        quint64 revision = 0;
        double map[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        QRect bounds;
        int done = 0; // points of the series already in the columns
    };

    mutable Stamp m_stamp;
    mutable PixelColumns m_columns;
    mutable ColumnsKey m_columnsKey;
};
