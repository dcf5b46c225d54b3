#include "display/CurveData.h"

#include <qwt_series_data.h>

CurveData::CurveData()
{
    d_boundingRect = QRectF(0.0, 0.0, -1.0, -1.0);
}

QRectF CurveData::boundingRect() const
{
    if (d_boundingRect.width() < 0.0)
        d_boundingRect = qwtBoundingRect(*this);
    return d_boundingRect;
}

void CurveData::append(const QPointF& point)
{
    if (d_samples.size() == d_samples.capacity())
        d_samples.reserve(qMax(16, d_samples.capacity() * 2));
    d_samples.append(point);
}

void CurveData::removeFirst()
{
    if (!d_samples.isEmpty()) {
        d_samples.removeFirst();
        ++m_revision;
    }
}

void CurveData::clear()
{
    // resize(0) keeps the allocation, so a sweep refills without reallocating.
    d_samples.resize(0);
    ++m_revision;
    d_boundingRect = QRectF(0.0, 0.0, -1.0, -1.0);
}

void CurveData::reserve(int count)
{
    d_samples.reserve(count);
}
