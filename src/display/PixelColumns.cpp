#include "display/PixelColumns.h"

#include <algorithm>

void PixelColumns::reset(const QVector<QRect>& shape)
{
    m_shape = shape;
    // resize(0) keeps the allocations for the next sweep.
    m_rects.resize(0);
    m_closed = 0;
    m_openRows.resize(0);
}

void PixelColumns::add(int x, int y)
{
    if (!m_openRows.isEmpty() && x != m_openX) {
        m_rects.resize(m_closed);
        closeColumn(m_rects);
        m_closed = m_rects.size();
        m_openRows.resize(0);
    }
    m_openX = x;
    m_openRows.append(y);
    // A column that collects many points (a zoomed-in time axis) keeps its
    // distinct rows only.
    if (m_openRows.size() >= 256) {
        std::sort(m_openRows.begin(), m_openRows.end());
        m_openRows.erase(std::unique(m_openRows.begin(), m_openRows.end()), m_openRows.end());
    }
}

const QVector<QRect>& PixelColumns::rects()
{
    m_rects.resize(m_closed);
    closeColumn(m_rects);
    return m_rects;
}

void PixelColumns::closeColumn(QVector<QRect>& out)
{
    if (m_openRows.isEmpty())
        return;
    std::sort(m_openRows.begin(), m_openRows.end());
    const int* first = m_openRows.constData();
    const int* end = first + m_openRows.size();
    // A rectangle of height h stamped on rows a < b covers one unbroken
    // block when b - a <= h: the run goes on over such gaps.
    for (const QRect& r : qAsConst(m_shape)) {
        const int reach = r.height();
        for (const int* row = first; row != end;) {
            const int top = *row;
            int bottom = top;
            for (++row; row != end && *row <= bottom + reach; ++row)
                bottom = *row;
            out.append(QRect(r.left() + m_openX, r.top() + top, r.width(), r.height() + bottom - top));
        }
    }
}
