#pragma once

#include "analysis/HeadroomTracker.h"

#include <QString>

class ThermoSlider;

// The headroom of the single displayed controller on the window's piezo
// range bars: the tracker's judgement as the bars' fill colour and tool tip.
// The values are offered from the display tick.
class HeadroomMonitor : public HeadroomTracker
{
public:
    // The tool tip of bar b: its value and headroom, and why it warns.
    QString toolTip(int b) const { return description(b); }

    // Colours the bars' fill and sets their tool tips; a bar is only touched
    // when its text changes.
    void apply(ThermoSlider *const bars[4]);

private:
    QString shown[4];
};
