#pragma once

#include "analysis/Headroom.h"

#include <QString>
#include <QtGlobal>

#include <vector>

// Watches the four piezo range values of one controller (x1, y1, x2, y2,
// volts) and tells which axes warn: an axis within 10% of a limit, or heading
// for one in under 10 minutes by a line fitted to its recent values. The
// values are taken at a low rate (one set a second), so the work per offer is
// a single comparison of clocks. Shared by the window's range bars and the
// device server's alarm state, so both warn at the same point.
class HeadroomTracker
{
public:
    static constexpr int intervalMs = 1000;       // one value per axis a second
    static constexpr int historySeconds = 120;    // the fit spans at most this
    // Time to a limit is judged only from this much history: a shorter fit
    // mistakes noise for drift.
    static constexpr int minimumFitSeconds = 60;
    static constexpr double warnFraction = 0.1;   // of the range, from a limit
    static constexpr double warnSeconds = 600.0;  // to a limit at the fitted drift

    // "x, stage 1" .. "y, stage 2" for b = 0..3.
    static QString axisName(int b);

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
    bool isWarning(int b) const { return nearLimit[b] || headingForLimit[b]; }
    bool anyWarning() const;
    // Axis b, its value and headroom, and why it warns (several lines).
    QString description(int b) const;
    // Why axis b warns, one sentence per reason; empty when it does not.
    QString reason(int b) const;

private:
    void evaluate();

    QString followed;
    std::vector<double> history[4];
    qint64 lastTaken = -1;
    Headroom state[4];
    bool nearLimit[4] = {false, false, false, false};
    bool headingForLimit[4] = {false, false, false, false};
};
