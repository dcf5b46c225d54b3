#include "Headroom.h"

#include <algorithm>
#include <cmath>

Headroom Headroom::compute(const double *data, std::size_t count, double sampleRate, double fitSeconds)
{
    Headroom h;
    if (count == 0 || !(sampleRate > 0))
        return h;
    const std::size_t span = std::min(count, std::max<std::size_t>(1, std::size_t(std::llround(fitSeconds * sampleRate))));
    const double *x = data + (count - span);

    // Least squares line v = a + b t over t = 0 .. span-1 samples, centred
    // on the middle sample so the two sums decouple.
    const double centre = (double(span) - 1) / 2;
    double sumV = 0, sumTV = 0, sumTT = 0;
    for (std::size_t i = 0; i < span; ++i) {
        const double t = double(i) - centre;
        sumV += x[i];
        sumTV += t * x[i];
        sumTT += t * t;
    }
    const double mean = sumV / double(span);
    const double slopePerSample = sumTT > 0 ? sumTV / sumTT : 0.0;
    h.valid = true;
    h.drift = slopePerSample * sampleRate;
    h.voltage = mean + slopePerSample * centre;
    h.fitSpan = double(span) / sampleRate;

    const double toLow = h.voltage - lowLimit;
    const double toHigh = highLimit - h.voltage;
    h.nearestLimit = toLow <= toHigh ? lowLimit : highLimit;
    h.distance = std::min(toLow, toHigh);
    if (h.drift > 0) {
        h.headingLimit = highLimit;
        h.secondsToLimit = std::max(toHigh, 0.0) / h.drift;
    } else if (h.drift < 0) {
        h.headingLimit = lowLimit;
        h.secondsToLimit = std::max(toLow, 0.0) / -h.drift;
    } else {
        h.headingLimit = h.nearestLimit;
        h.secondsToLimit = INFINITY;
    }
    return h;
}

bool Headroom::isWarning() const
{
    return valid && (distance < 0.1 * (highLimit - lowLimit) || secondsToLimit < 600.0);
}
