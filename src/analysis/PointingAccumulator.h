#pragma once

// Mean position and RMS radius of a series of beam positions (x, y), added
// one at a time with a few additions each; the square root is taken only
// when a radius is asked for.
//
// Two radii are kept, both divided by the number of samples n:
// - rmsRadius(): about the mean of all samples added so far,
//   sqrt(sum |p_i - m_n|^2 / n), the spread of the series as a whole
//   (updated incrementally, so large offsets cost no precision);
// - runningRmsRadius(): each sample's distance taken from the mean of the
//   samples up to and including it, sqrt(sum |p_i - m_i|^2 / n). The first
//   sample adds 0. This is the live pointing display's figure: a sample's
//   share is fixed when it arrives.
// A sample with a coordinate that is not finite (a quadrant detector at the
// edge of its range) is left out and not counted.
class PointingAccumulator
{
public:
    // False, and nothing added, when x or y is not finite.
    bool add(double x, double y);
    void clear();

    int count() const { return n; }
    // 0 while nothing has been added.
    double meanX() const { return n > 0 ? sumX / n : 0.0; }
    double meanY() const { return n > 0 ? sumY / n : 0.0; }
    double rmsRadius() const;
    double runningRmsRadius() const;

private:
    int n = 0;
    double sumX = 0.0;
    double sumY = 0.0;
    double spread = 0.0;        // sum of squared distances from the current mean
    double runningSquares = 0.0; // sum of squared distances from the running mean
};
