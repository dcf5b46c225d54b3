#include "AllanDeviation.h"

#include <cmath>

AllanDeviation::AllanDeviation(const double *data, std::size_t count, double sampleRate)
    : m_sampleRate(sampleRate)
{
    // The mean is taken out first so the prefix sums stay small and exact
    // enough for differences of neighbouring averages.
    double mean = 0;
    for (std::size_t i = 0; i < count; ++i)
        mean += data[i];
    mean = count ? mean / double(count) : 0.0;
    m_prefix.resize(count + 1);
    m_prefix[0] = 0;
    for (std::size_t i = 0; i < count; ++i)
        m_prefix[i + 1] = m_prefix[i] + (data[i] - mean);
}

double AllanDeviation::at(int m) const
{
    const long n = long(m_prefix.size()) - 1;
    if (m < 1 || 2L * m > n)
        return NAN;
    const double *s = m_prefix.data();
    const long terms = n - 2L * m + 1;
    double sum = 0;
    for (long j = 0; j < terms; ++j) {
        // m * (second average - first average)
        const double d = (s[j + 2 * m] - s[j + m]) - (s[j + m] - s[j]);
        sum += d * d;
    }
    return std::sqrt(sum / (2.0 * double(terms))) / m;
}

std::vector<AllanDeviation::Point> AllanDeviation::octaves() const
{
    std::vector<Point> points;
    if (!(m_sampleRate > 0))
        return points;
    for (int m = 1; m <= maxFactor(); m *= 2)
        points.push_back({m / m_sampleRate, at(m), m});
    return points;
}

double AllanDeviation::atTau(double tau) const
{
    if (!(m_sampleRate > 0))
        return NAN;
    const double exact = tau * m_sampleRate;
    const int m = int(std::lround(exact));
    if (exact < 1.0 - 1e-9 || m > maxFactor())
        return NAN;
    return at(m);
}
