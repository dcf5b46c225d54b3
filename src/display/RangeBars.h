#pragma once

#include <QString>

class QGridLayout;
class QLabel;
class ThermoSlider;

// The four piezo range bars (x and y of each stage) with a caption under
// each stage's pair naming the controller they show. They show the active
// controller's newest range values while its samples keep arriving;
// otherwise (no acquisition, no active controller, its samples stopped)
// they are greyed, empty and say "no value", so a stale or zero value never
// looks real.
class RangeBars
{
public:
    // bars: x1, y1, x2, y2; layouts: the grids holding each stage's bars,
    // which take the captions in a new last row.
    RangeBars(ThermoSlider *const bars[4], QGridLayout *const layouts[2]);

    // New values of the controller named so (volts: x1, y1, x2, y2), taken
    // at nowMs.
    void offer(const QString &name, const double volts[4], qint64 nowMs);
    // Greys the bars when the last values are older than maxAgeMs, or when
    // live is false; the bars keep what offer() set otherwise.
    void refresh(bool live, const QString &activeName, qint64 nowMs, int maxAgeMs);

    bool showsValue() const { return valueShown; }
    QString caption() const;

private:
    void setShown(bool shown, const QString &name);

    ThermoSlider *bar[4];
    QLabel *captions[2];
    QString source;
    qint64 offeredMs = 0;
    bool valueShown = true; // the bars' initial state is set in the constructor
    double values[4] = {0, 0, 0, 0};
};
