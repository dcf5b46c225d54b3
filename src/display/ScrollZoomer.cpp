#include "display/ScrollZoomer.h"

#include "display/ScrollBar.h"

#include <qwt_plot.h>
#include <qwt_scale_map.h>

#include <QChildEvent>
#include <QEvent>

#include <cmath>

ScrollZoomer::ScrollZoomer(QWidget* canvas)
    : QwtPlotZoomer(canvas)
{
}

ScrollZoomer::~ScrollZoomer()
{
    // The bars are children of the canvas and go with it; the corner widget
    // belongs to whoever set it.
    ScrollBar* hBar = m_hData.scrollBar;
    ScrollBar* vBar = m_vData.scrollBar;
    m_hData.scrollBar = nullptr;
    m_vData.scrollBar = nullptr;
    delete hBar;
    delete vBar;
}

ScrollBar* ScrollZoomer::scrollBar(Qt::Orientation orientation)
{
    ScrollData& data = orientation == Qt::Horizontal ? m_hData : m_vData;
    if (!data.scrollBar && canvas()) {
        data.scrollBar = new ScrollBar(orientation, canvas());
        data.scrollBar->hide();
        connect(data.scrollBar,
                QOverload<Qt::Orientation, double, double>::of(&ScrollBar::valueChanged), this,
                &ScrollZoomer::scrollBarMoved);
    }
    return data.scrollBar;
}

ScrollBar* ScrollZoomer::horizontalScrollBar() const
{
    return m_hData.scrollBar;
}

ScrollBar* ScrollZoomer::verticalScrollBar() const
{
    return m_vData.scrollBar;
}

void ScrollZoomer::setCornerWidget(QWidget* widget)
{
    if (widget == m_cornerWidget)
        return;
    if (canvas()) {
        delete m_cornerWidget;
        m_cornerWidget = widget;
        if (m_cornerWidget) {
            if (m_cornerWidget->parent() != canvas())
                m_cornerWidget->setParent(canvas());
            updateScrollBars();
        }
    }
}

QWidget* ScrollZoomer::cornerWidget() const
{
    return m_cornerWidget;
}

bool ScrollZoomer::eventFilter(QObject* object, QEvent* event)
{
    if (object == canvas()) {
        switch (event->type()) {
        case QEvent::Resize:
            if (!m_inLayout)
                layoutScrollBars(canvas()->contentsRect());
            break;
        case QEvent::ChildRemoved: {
            const QObject* child = static_cast<QChildEvent*>(event)->child();
            if (child == m_cornerWidget)
                m_cornerWidget = nullptr;
            else if (child == m_hData.scrollBar)
                m_hData.scrollBar = nullptr;
            else if (child == m_vData.scrollBar)
                m_vData.scrollBar = nullptr;
            break;
        }
        default:
            break;
        }
    }
    return QwtPlotZoomer::eventFilter(object, event);
}

bool ScrollZoomer::needScrollBar(Qt::Orientation orientation) const
{
    const Qt::ScrollBarPolicy mode = orientation == Qt::Horizontal ? m_hData.mode : m_vData.mode;
    if (mode == Qt::ScrollBarAlwaysOn)
        return true;
    if (mode == Qt::ScrollBarAlwaysOff)
        return false;

    const QRectF base = zoomBase().normalized();
    const QRectF rect = zoomRect().normalized();
    // Tolerate rounding from zooming back and forth.
    if (orientation == Qt::Horizontal) {
        const double eps = std::abs(base.width()) * 1e-9;
        return base.left() < rect.left() - eps || base.right() > rect.right() + eps;
    }
    const double eps = std::abs(base.height()) * 1e-9;
    return base.top() < rect.top() - eps || base.bottom() > rect.bottom() + eps;
}

void ScrollZoomer::updateScrollBars()
{
    if (!canvas())
        return;

    const bool showH = needScrollBar(Qt::Horizontal);
    const bool showV = needScrollBar(Qt::Vertical);
    const QRectF base = zoomBase().normalized();
    const QRectF rect = zoomRect().normalized();

    m_inZoom = true;
    if (showH) {
        ScrollBar* bar = scrollBar(Qt::Horizontal);
        bar->setPalette(plot()->palette());
        bar->setBase(base.left(), base.right());
        bar->moveSlider(rect.left(), rect.right());
        if (!bar->isVisibleTo(canvas()))
            bar->show();
    } else if (m_hData.scrollBar) {
        m_hData.scrollBar->hide();
    }
    if (showV) {
        ScrollBar* bar = scrollBar(Qt::Vertical);
        bar->setPalette(plot()->palette());
        bar->setBase(base.top(), base.bottom());
        bar->moveSlider(rect.top(), rect.bottom());
        if (!bar->isVisibleTo(canvas()))
            bar->show();
    } else if (m_vData.scrollBar) {
        m_vData.scrollBar->hide();
    }
    if (m_cornerWidget)
        m_cornerWidget->setVisible(showH && showV);
    m_inZoom = false;

    layoutScrollBars(canvas()->contentsRect());
}

bool ScrollZoomer::horizontalBarAtTop() const
{
    // The x axis at the bottom puts the opposite bar at the top.
    const bool scaleAtBottom = xAxis() == QwtPlot::xBottom;
    return (m_hData.position == OppositeToScale) == scaleAtBottom;
}

bool ScrollZoomer::verticalBarAtLeft() const
{
    const bool scaleAtLeft = yAxis() == QwtPlot::yLeft;
    return (m_vData.position == OppositeToScale) != scaleAtLeft;
}

void ScrollZoomer::layoutScrollBars(const QRect& rect)
{
    m_inLayout = true;
    ScrollBar* hBar = m_hData.scrollBar;
    ScrollBar* vBar = m_vData.scrollBar;
    const bool showH = hBar && hBar->isVisibleTo(canvas());
    const bool showV = vBar && vBar->isVisibleTo(canvas());
    const int hDim = showH ? hBar->sizeHint().height() : 0;
    const int vDim = showV ? vBar->sizeHint().width() : 0;
    const bool top = horizontalBarAtTop();
    const bool left = verticalBarAtLeft();

    if (showH) {
        const int x = left ? rect.left() + vDim : rect.left();
        const int y = top ? rect.top() : rect.bottom() - hDim + 1;
        hBar->setGeometry(x, y, rect.width() - vDim, hDim);
    }
    if (showV) {
        const int x = left ? rect.left() : rect.right() - vDim + 1;
        const int y = top ? rect.top() + hDim : rect.top();
        vBar->setGeometry(x, y, vDim, rect.height() - hDim);
    }
    if (m_cornerWidget && showH && showV) {
        const int x = left ? rect.left() : rect.right() - vDim + 1;
        const int y = top ? rect.top() : rect.bottom() - hDim + 1;
        m_cornerWidget->setGeometry(x, y, vDim, hDim);
    }
    m_inLayout = false;
}

void ScrollZoomer::rescale()
{
    QwtPlotZoomer::rescale();
    updateScrollBars();
}

void ScrollZoomer::scrollBarMoved(Qt::Orientation orientation, double min, double max)
{
    if (m_inZoom)
        return;
    const QRectF rect = zoomRect().normalized();
    if (orientation == Qt::Horizontal) {
        moveTo(QPointF(min, rect.top()));
    } else {
        // The bar's max is the upper edge of the shown part.
        moveTo(QPointF(rect.left(), max - rect.height()));
    }
    emit zoomed(zoomRect());
}
