#pragma once

#include <QColor>
#include <QList>

// Trace colours for controllers that come without stored ones. Each
// controller is drawn in one colour family of a palette made for telling
// colours apart (Tableau 10): x in the base colour, y darker, intensity
// lighter. The eleventh and later controllers cycle through the palette
// again in another shade of it, so no two controllers share a colour.
class ControllerPalette
{
public:
    struct Traces
    {
        QColor x;
        QColor y;
        QColor intensity;
    };

    static constexpr int baseCount = 10;

    // The colour family of palette position n (0 based).
    static Traces at(int n);
    // The first palette position whose x colour none of these x colours
    // takes: a new controller's colours, distinct from those in use.
    static Traces next(const QList<QColor> &xColoursInUse);
};
