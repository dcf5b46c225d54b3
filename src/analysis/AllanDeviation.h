#pragma once

#include <cstddef>
#include <vector>

// Overlapping Allan deviation of a series of samples (positions), taken as
// the averaged quantity: for an averaging time tau = m / sampleRate,
//   sigma^2(tau) = 1 / (2 (N - 2m + 1)) * sum_j (mean_{j+m, m} - mean_{j, m})^2
// over every start j, where mean_{j, m} is the mean of samples j .. j+m-1.
// White noise falls as tau^-1/2, a random walk rises as tau^+1/2.
class AllanDeviation
{
public:
    struct Point
    {
        double tau = 0;       // s
        double deviation = 0; // unit of the samples
        int factor = 0;       // samples averaged (m)
    };

    explicit AllanDeviation(const double *data, std::size_t count, double sampleRate);

    // Deviation for m samples averaged; NaN when 2m exceeds the record or
    // m < 1.
    double at(int m) const;

    // Octave-spaced averaging times from one sample period up to a third of
    // the record: m = 1, 2, 4, ... with m <= N / 3.
    std::vector<Point> octaves() const;

    // The deviation at the averaging time nearest to tau seconds, or NaN
    // when that is below one sample period or above a third of the record.
    double atTau(double tau) const;

    int maxFactor() const { return int(m_prefix.size() > 1 ? (m_prefix.size() - 1) / 3 : 0); }

private:
    std::vector<double> m_prefix; // prefix sums of the mean-removed samples
    double m_sampleRate;
};
