#pragma once

#include "analysis/Headroom.h"

#include <QString>
#include <QtGlobal>

#include <vector>

class ThermoSlider;

// Watches the four piezo range values of the single displayed controller
// (x1, y1, x2, y2, volts) and tells which range bars should warn: an axis
// within 10% of a limit, or heading for one in under 10 minutes by a line
// fitted to its recent values. The values are taken at a low rate (one set a
// second, offered from the display tick), so the work per tick is a single
// comparison of clocks.
class HeadroomMonitor
{
public:
    static constexpr int intervalMs = 1000;       // one value per axis a second
    static constexpr int historySeconds = 120;    // the fit spans at most this
    // Time to a limit is judged only from this much history: a shorter fit
    // mistakes noise for drift.
    static constexpr int minimumFitSeconds = 60;

    // Takes the values when at least intervalMs passed since the last set;
    // a gap of several intervals (acquisition stopped) starts a new history.
    // Returns whether the values were taken (and the states recomputed).
    bool offer(qint64 nowMs, const double volts[4]);
    void reset();
    // Names the controller the values come from; another one starts afresh
    // (returns true then).
    bool follow(const QString &source);

    int historyLength() const { return int(history[0].size()); }
    const Headroom &axis(int b) const { return state[b]; }
    bool isWarning(int b) const { return warning[b]; }
    // The tool tip of bar b: its value and headroom, and why it warns.
    QString toolTip(int b) const;

    // Colours the bars' fill and sets their tool tips; a bar is only touched
    // when its text changes.
    void apply(ThermoSlider *const bars[4]);

private:
    void evaluate();

    QString followed;
    std::vector<double> history[4];
    qint64 lastTaken = -1;
    Headroom state[4];
    bool warning[4] = {false, false, false, false};
    QString shown[4];
};
