#include "app/WindowPlacement.h"

QRect mainWindowGeometry(const QSize &available, const QSize &preferred)
{
    QSize size = preferred;
    if (available.width() < size.width() || available.height() < size.height())
        size = available;
    const int x = (available.width() - size.width()) / 2;
    const int y = (available.height() - size.height()) / 2;
    return QRect(QPoint(x, y), size);
}
