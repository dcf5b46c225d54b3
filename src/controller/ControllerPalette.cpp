#include "controller/ControllerPalette.h"

namespace {
// Tableau 10: blue, orange, red, teal, green, yellow, purple, pink, brown, grey.
constexpr QRgb base[ControllerPalette::baseCount] = {0x4e79a7, 0xf28e2b, 0xe15759, 0x76b7b2, 0x59a14f,
                                                     0xedc948, 0xb07aa1, 0xff9da7, 0x9c755f, 0xbab0ac};

// The shade of a pass through the palette: the first pass as it is, later
// ones with the hue turned a little further each time and, every other
// pass, paler, so that no colour of one pass meets one of another.
QColor shaded(const QColor &colour, int pass)
{
    if (pass == 0)
        return colour;
    int h, s, v;
    colour.getHsv(&h, &s, &v);
    const int hue = (h < 0 ? 0 : h + 17 * pass) % 360;
    const int saturation = pass % 2 ? s * 3 / 5 : s;
    return QColor::fromHsv(hue, saturation, v);
}
} // namespace

ControllerPalette::Traces ControllerPalette::at(int n)
{
    if (n < 0)
        n = 0;
    const QColor colour = shaded(QColor::fromRgb(base[n % baseCount]), n / baseCount);
    return Traces{colour, colour.darker(160), colour.lighter(135)};
}

ControllerPalette::Traces ControllerPalette::next(const QList<QColor> &xColoursInUse)
{
    // Far more positions than controllers can be displayed; deep shades
    // may coincide, so the search is bounded.
    const int limit = baseCount * 20;
    for (int n = 0; n < limit; ++n) {
        const Traces candidate = at(n);
        if (!xColoursInUse.contains(candidate.x))
            return candidate;
    }
    return at(xColoursInUse.size());
}
