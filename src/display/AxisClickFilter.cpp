#include "display/AxisClickFilter.h"

#include "display/DisplayTick.h"
#include "display/GenericPlot.h"

#include <QMouseEvent>
#include <QWidget>

#include <qwt_scale_widget.h>

AxisClickFilter::AxisClickFilter(QObject *parent)
    : QObject(parent)
{
}

void AxisClickFilter::watch(const DisplayPlots &plots)
{
    for (int s = 0; s < 2; ++s) {
        add(plots.time[s]->axisWidget(QwtPlot::yLeft), 1 + s);
        add(plots.time[s]->axisWidget(QwtPlot::xTop), 3 + s);
        add(plots.intensity[s]->axisWidget(QwtPlot::xBottom), 3 + s);
        add(plots.intensity[s]->axisWidget(QwtPlot::yLeft), 5 + s);
    }
}

void AxisClickFilter::add(QWidget *axisWidget, int id)
{
    if (!axisWidget)
        return;
    axes.insert(axisWidget, id);
    axisWidget->setCursor(Qt::PointingHandCursor);
    axisWidget->setToolTip(QStringLiteral("Click to rescale this axis"));
    axisWidget->installEventFilter(this);
}

bool AxisClickFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        const int id = axisOf(watched);
        if (id > 0) {
            emit axisClicked(id);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
