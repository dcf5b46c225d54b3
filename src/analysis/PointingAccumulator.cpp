#include "analysis/PointingAccumulator.h"

#include <cmath>

bool PointingAccumulator::add(double x, double y)
{
    if (!std::isfinite(x) || !std::isfinite(y))
        return false;
    const double oldX = meanX();
    const double oldY = meanY();
    ++n;
    sumX += x;
    sumY += y;
    const double newX = meanX();
    const double newY = meanY();
    // Distance from the mean including this sample.
    const double dx = x - newX;
    const double dy = y - newY;
    runningSquares += dx * dx + dy * dy;
    // Moving the mean from old to new changes the summed squared distances
    // of all samples by (p - old) . (p - new) (Welford's update).
    if (n > 1)
        spread += (x - oldX) * dx + (y - oldY) * dy;
    return true;
}

void PointingAccumulator::clear()
{
    *this = PointingAccumulator();
}

double PointingAccumulator::rmsRadius() const
{
    return n > 0 ? std::sqrt(spread / n) : 0.0;
}

double PointingAccumulator::runningRmsRadius() const
{
    return n > 0 ? std::sqrt(runningSquares / n) : 0.0;
}
