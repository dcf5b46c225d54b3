#pragma once

#include <cstddef>

// How close one piezo actuator is to the end of its range (0 to 10 V) and,
// from a straight line fitted to the last minutes of its voltage, how soon
// it would get there if it kept drifting that way.
class Headroom
{
public:
    static constexpr double lowLimit = 0.0;   // V
    static constexpr double highLimit = 10.0; // V

    // data[0..count) in volts at sampleRate Hz; the fit spans the last
    // fitSeconds (the whole record when it is shorter).
    static Headroom compute(const double *data, std::size_t count, double sampleRate, double fitSeconds = 120.0);

    bool valid = false;
    double voltage = 0;   // latest value of the fitted line, V
    double distance = 0;  // to the nearer limit, V (negative when outside)
    double nearestLimit = 0; // the limit nearer now, V
    double drift = 0;     // slope of the fit, V/s
    // Seconds until the line reaches the limit it is heading for; infinity
    // when it does not drift towards one.
    double secondsToLimit = 0;
    double headingLimit = 0; // the limit the drift heads for, V
    double fitSpan = 0;   // seconds actually fitted

    // Within 10% of the range of a limit, or under 10 minutes from reaching one.
    bool isWarning() const;
};
