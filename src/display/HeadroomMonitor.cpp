#include "display/HeadroomMonitor.h"

#include "display/ThermoSlider.h"

#include <QBrush>
#include <QColor>

namespace {
const QColor normalFill(Qt::darkCyan);
const QColor warningFill(230, 90, 20);
} // namespace

void HeadroomMonitor::apply(ThermoSlider *const bars[4])
{
    for (int b = 0; b < 4; ++b) {
        const QString text = toolTip(b);
        if (text == shown[b])
            continue;
        shown[b] = text;
        bars[b]->setToolTip(text);
        const QColor fill = isWarning(b) ? warningFill : normalFill;
        if (bars[b]->fillBrush().color() != fill)
            bars[b]->setFillBrush(QBrush(fill));
    }
}
