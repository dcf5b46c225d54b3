#include "display/Zoomer.h"

#include "display/ScrollBar.h"

#include <qwt_plot.h>
#include <qwt_scale_draw.h>
#include <qwt_scale_widget.h>

#include <QMouseEvent>

Zoomer::Zoomer(QWidget* canvas)
    : ScrollZoomer(canvas)
{
    setKeyPattern(KeyUndo, NoKey);
    setKeyPattern(KeyHome, NoKey);
}

void Zoomer::rescale()
{
    QwtScaleWidget* scaleWidget = plot()->axisWidget(yAxis());
    QwtScaleDraw* scaleDraw = scaleWidget->scaleDraw();
    double minExtent = 0.0;
    if (zoomRectIndex() > 0) {
        minExtent = scaleDraw->spacing() + scaleDraw->maxTickLength() + 1;
        minExtent += scaleDraw->labelSize(scaleWidget->font(), m_rangeMax).width();
    }
    scaleDraw->setMinimumExtent(minExtent);
    ScrollZoomer::rescale();
}

QRect Zoomer::clampRect() const
{
    QRect rect = canvas()->contentsRect();
    const ScrollBar* hBar = horizontalScrollBar();
    if (hBar && hBar->isVisibleTo(canvas())) {
        if (horizontalBarAtTop())
            rect.setTop(hBar->geometry().bottom() + 1);
        else
            rect.setBottom(hBar->geometry().top() - 1);
    }
    const ScrollBar* vBar = verticalScrollBar();
    if (vBar && vBar->isVisibleTo(canvas())) {
        if (verticalBarAtLeft())
            rect.setLeft(vBar->geometry().right() + 1);
        else
            rect.setRight(vBar->geometry().left() - 1);
    }
    return rect;
}

void Zoomer::widgetMouseMoveEvent(QMouseEvent* event)
{
    if (!isActive()) {
        ScrollZoomer::widgetMouseMoveEvent(event);
        return;
    }
    const QRect rect = clampRect();
    QPoint pos = event->pos();
    pos.setX(qBound(rect.left(), pos.x(), rect.right()));
    pos.setY(qBound(rect.top(), pos.y(), rect.bottom()));
    QMouseEvent clamped(event->type(), pos, event->button(), event->buttons(), event->modifiers());
    ScrollZoomer::widgetMouseMoveEvent(&clamped);
}
