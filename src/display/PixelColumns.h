#pragma once

#include <QRect>
#include <QVector>

// The pixels a dot curve covers, gathered column by column in the order of
// the series, as the rectangles that stamp a solid symbol on all of them.
// The rows of one pixel column become runs, and a symbol rectangle stamped
// on every row of a run whose gaps it bridges is that rectangle stretched
// over the run: at 500 samples per second a 10 s sweep lands a dozen points
// on each column of a time plot, and they cost one or two rectangles there
// instead of a dozen. The picture is exactly the one of stamping every
// point: no covered pixel is dropped, none is added.
//
// Points are added in series order; a column is closed when a point lands on
// another column, so a curve that moves left to right (time plots) merges
// fully and a scattered one (position plots) degrades to a stamp per point.
class PixelColumns
{
public:
    // Starts empty for a symbol made of these rectangles (relative to the
    // point's pixel).
    void reset(const QVector<QRect>& shape);
    const QVector<QRect>& shape() const { return m_shape; }

    void add(int x, int y);

    // The stamp rectangles of every point added so far. The result stays
    // valid until the next add() or reset().
    const QVector<QRect>& rects();

private:
    void closeColumn(QVector<QRect>& out);

    QVector<QRect> m_shape;
    QVector<QRect> m_rects; // closed columns, then the open column's runs
    int m_closed = 0;       // rectangles of the closed columns
    int m_openX = 0;
    QVector<int> m_openRows; // rows of the open column, unsorted
};
