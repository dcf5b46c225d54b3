#include "display/CurveLayer.h"

#include "display/CurveData.h"

#include <qwt_scale_map.h>

#include <QPainter>

#include <algorithm>
#include <cstdlib>

void CurveLayer::release()
{
    m_image = QImage();
    m_owner = QVector<unsigned short>();
    m_kept.clear();
    m_area = QRect();
}

void CurveLayer::reset(const QVector<Curve>& curves, const QRect& area)
{
    if (m_image.size() != area.size())
        m_image = QImage(area.size(), QImage::Format_ARGB32_Premultiplied);
    m_image.fill(Qt::transparent);
    m_owner.fill(0, area.width() * area.height());
    m_area = area;
    m_kept.resize(0);
    for (const Curve& c : curves)
        m_kept.append(Kept{c.item, c.data, c.data->revision(), 0, c.colour, c.shape});
}

void CurveLayer::paint(QPainter* painter, const QVector<Curve>& curves, const QwtScaleMap& xMap,
                       const QwtScaleMap& yMap, const QRect& canvas)
{
    // The image reaches as far beyond the canvas as a symbol can.
    int margin = 0;
    for (const Curve& c : curves)
        for (const QRect& r : c.shape)
            margin = std::max({margin, std::abs(r.left()), std::abs(r.top()), std::abs(r.right()),
                               std::abs(r.bottom())});
    const QRect area = canvas.adjusted(-margin, -margin, margin, margin);
    const double map[8] = {xMap.p1(), xMap.p2(), xMap.s1(), xMap.s2(),
                           yMap.p1(), yMap.p2(), yMap.s1(), yMap.s2()};

    bool same = area == m_area && canvas == m_canvas && std::equal(map, map + 8, m_map)
        && m_kept.size() == curves.size();
    for (int k = 0; same && k < curves.size(); ++k) {
        const Curve& c = curves.at(k);
        const Kept& kept = m_kept.at(k);
        same = kept.item == c.item && kept.data == c.data && kept.revision == c.data->revision()
            && kept.done <= c.data->count() && kept.colour == c.colour && kept.shape == c.shape;
    }
    if (!same) {
        reset(curves, area);
        m_canvas = canvas;
        std::copy(map, map + 8, m_map);
    }

    for (int k = 0; k < curves.size(); ++k) {
        Kept& kept = m_kept[k];
        const QPointF* samples = kept.data->samples().constData();
        const int count = kept.data->count();
        const auto rank = static_cast<unsigned short>(k + 1);
        for (int i = kept.done; i < count; ++i) {
            const int x = qRound(xMap.transform(samples[i].x()));
            const int y = qRound(yMap.transform(samples[i].y()));
            if (x < canvas.left() || x > canvas.right() || y < canvas.top() || y > canvas.bottom())
                continue;
            stamp(rank, kept.shape, kept.colour, x, y);
        }
        kept.done = count;
    }
    painter->drawImage(m_area.topLeft(), m_image);
}

void CurveLayer::stamp(unsigned short rank, const QVector<QRect>& shape, unsigned int colour, int x,
                       int y)
{
    const int width = m_area.width();
    const int height = m_area.height();
    uchar* bits = m_image.bits();
    const int stride = m_image.bytesPerLine();
    for (const QRect& r : shape) {
        const int left = std::max(0, x + r.left() - m_area.left());
        const int right = std::min(width - 1, x + r.right() - m_area.left());
        const int top = std::max(0, y + r.top() - m_area.top());
        const int bottom = std::min(height - 1, y + r.bottom() - m_area.top());
        for (int row = top; row <= bottom; ++row) {
            auto* line = reinterpret_cast<unsigned int*>(bits + row * stride);
            unsigned short* owner = m_owner.data() + row * width;
            for (int col = left; col <= right; ++col) {
                // A later curve keeps its pixel.
                if (owner[col] <= rank) {
                    owner[col] = rank;
                    line[col] = colour;
                }
            }
        }
    }
}
