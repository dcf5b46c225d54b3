#pragma once

#include <qwt_series_data.h>

#include <QPointF>
#include <QRectF>

// The points of one plot curve: a growing vector of points with a cached
// bounding rectangle. Appending does not refresh the rectangle (the plots use
// fixed axis scales, so nothing needs it per point); clearing invalidates it
// and the next boundingRect() call computes it again over all points.
class CurveData : public QwtArraySeriesData<QPointF>
{
public:
    CurveData();

    QRectF boundingRect() const override;

    // Appends without reallocating per point: the vector grows geometrically
    // and keeps its capacity when points are removed or cleared.
    void append(const QPointF& point);
    // Drops the oldest point of a trail (a short move of the remaining points).
    void removeFirst();
    void clear();
    void reserve(int count);
    int count() const { return d_samples.size(); }
    int capacity() const { return d_samples.capacity(); }
    // Counts every change other than an append, so a drawing cache built
    // from the first points can tell that they are still the same points.
    quint64 revision() const { return m_revision; }

private:
    quint64 m_revision = 0;
};
