#pragma once

#include <QImage>
#include <QRect>
#include <QVector>

class CurveData;
class QPainter;
class QwtScaleMap;

// The dot curves of one plot, drawn into one image that is kept between
// replots. A time plot at 50 controllers holds 100 curves of up to 5,000
// points each; drawing them all at every replot costs far more than the
// display tick itself, while between two replots only a few points per curve
// are new. The layer stamps only those into its image and the replot paints
// the image once.
//
// The picture is exactly that of drawing the curves one after the other:
// every pixel remembers the rank of the last curve (in drawing order) that
// covered it, so a new point of an earlier curve does not paint over a later
// one. Curves are solid symbols given as rectangles around the point's pixel
// (PlotCurve::pixelStamp); points whose pixel lies outside the canvas are left
// out, as the curves themselves do, and the painter's clip cuts the image as
// it would cut the symbols.
class CurveLayer
{
public:
    struct Curve {
        const void* item = nullptr; // identifies the curve
        const CurveData* data = nullptr;
        QVector<QRect> shape;
        unsigned int colour = 0; // opaque ARGB
    };

    // Brings the image up to date with the curves (in drawing order) and
    // paints it. Anything but new points at the end of the series (a clear,
    // other scales, another canvas, other curves or colours) redraws the
    // image from all points.
    void paint(QPainter* painter, const QVector<Curve>& curves, const QwtScaleMap& xMap,
               const QwtScaleMap& yMap, const QRect& canvas);
    // Frees the image (the plot no longer draws through the layer).
    void release();

    static constexpr int maxCurves = 65535;

private:
    struct Kept {
        const void* item;
        const CurveData* data;
        unsigned long long revision;
        int done;
        unsigned int colour;
        QVector<QRect> shape;
    };

    void reset(const QVector<Curve>& curves, const QRect& area);
    void stamp(unsigned short rank, const QVector<QRect>& shape, unsigned int colour, int x, int y);

    QImage m_image;
    QVector<unsigned short> m_owner; // rank of the curve on top per pixel, 0 = none
    QRect m_area;                    // the image's place in painter coordinates
    QRect m_canvas;
    double m_map[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    QVector<Kept> m_kept;
};
