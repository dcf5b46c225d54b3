#include "display/ColorScalesFrame.h"

#include <QPainter>

ColorScalesFrame::ColorScalesFrame(QWidget* parent)
    : QFrame(parent)
{
}

void ColorScalesFrame::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::gray);
    const int q = height() / 8;
    painter.setBrush(QColor("lightgreen"));
    painter.drawRect(5, q, 5, 6 * q);
    painter.setBrush(QColor("red"));
    painter.drawRect(5, 5, 5, q);
    painter.drawRect(5, 7 * q, 5, q);
}
