#pragma once

#include <QRect>
#include <QSize>

// Size and position of the main window on a screen with the given available
// area: the preferred size, shrunk to the available width and height when
// the screen is smaller, centred with integer division.
QRect mainWindowGeometry(const QSize &available, const QSize &preferred = QSize(1280, 960));
