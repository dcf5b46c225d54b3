#include "WelchDensity.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

// FFTW's planner is not thread-safe; execution of a finished plan is.
std::mutex plannerMutex;

struct FftwBuffers
{
    explicit FftwBuffers(int n)
        : input(fftw_alloc_real(std::size_t(n))), output(fftw_alloc_complex(std::size_t(n / 2 + 1)))
    {
        std::lock_guard<std::mutex> lock(plannerMutex);
        plan = fftw_plan_dft_r2c_1d(n, input, output, FFTW_ESTIMATE);
    }
    ~FftwBuffers()
    {
        {
            std::lock_guard<std::mutex> lock(plannerMutex);
            fftw_destroy_plan(plan);
        }
        fftw_free(input);
        fftw_free(output);
    }
    FftwBuffers(const FftwBuffers &) = delete;
    FftwBuffers &operator=(const FftwBuffers &) = delete;

    double *input;
    fftw_complex *output;
    fftw_plan plan;
};

} // namespace

Spectrum Spectrum::welch(const double *data, std::size_t count, double sampleRate, int segmentLength)
{
    Spectrum s;
    if (count < 8 || !(sampleRate > 0))
        return s;
    const int n = int(std::min<std::size_t>(std::size_t(std::max(segmentLength, 8)), count));
    const int step = n / 2;
    const int segments = int((count - std::size_t(n)) / std::size_t(step)) + 1;
    const int bins = n / 2 + 1;

    // Periodic Hann window: the segments then tile with constant overlap sum.
    std::vector<double> window(static_cast<std::size_t>(n));
    double windowPower = 0;
    for (int i = 0; i < n; ++i) {
        window[std::size_t(i)] = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / n);
        windowPower += window[std::size_t(i)] * window[std::size_t(i)];
    }

    std::vector<double> power(std::size_t(bins), 0.0);
    FftwBuffers fft(n);
    for (int seg = 0; seg < segments; ++seg) {
        const double *x = data + std::size_t(seg) * std::size_t(step);
        double mean = 0;
        for (int i = 0; i < n; ++i)
            mean += x[i];
        mean /= n;
        for (int i = 0; i < n; ++i)
            fft.input[i] = (x[i] - mean) * window[std::size_t(i)];
        fftw_execute(fft.plan);
        for (int k = 0; k < bins; ++k)
            power[std::size_t(k)] += fft.output[k][0] * fft.output[k][0] + fft.output[k][1] * fft.output[k][1];
    }

    // One-sided PSD: every bin but DC (and Nyquist for even n) carries the
    // power of its negative-frequency twin as well.
    const double scale = 1.0 / (sampleRate * windowPower * segments);
    s.sampleRate = sampleRate;
    s.resolution = sampleRate / n;
    s.segmentLength = n;
    s.segments = segments;
    s.frequency.resize(std::size_t(bins));
    s.asd.resize(std::size_t(bins));
    for (int k = 0; k < bins; ++k) {
        const bool single = k == 0 || (n % 2 == 0 && k == bins - 1);
        s.frequency[std::size_t(k)] = k * s.resolution;
        s.asd[std::size_t(k)] = std::sqrt(power[std::size_t(k)] * scale * (single ? 1.0 : 2.0));
    }
    return s;
}

namespace {

// The frequency span bin k stands for and its PSD over that span. Inner bins
// cover their resolution width centred on their frequency; the DC bin (and
// the Nyquist bin of an even segment) covers only the half inside
// [0, Nyquist] with twice its density, so the bins together hold exactly the
// segment's power: the sum of PSD x resolution.
void binSpan(const Spectrum &s, std::size_t k, double &from, double &to, double &density)
{
    const double half = s.resolution / 2;
    const double nyquist = s.sampleRate / 2;
    from = std::max(s.frequency[k] - half, 0.0);
    to = std::min(s.frequency[k] + half, nyquist);
    density = s.asd[k] * s.asd[k] * (s.resolution / (to - from));
}

} // namespace

double Spectrum::bandRms(double low, double high) const
{
    double variance = 0;
    for (std::size_t k = 0; k < asd.size(); ++k) {
        double from, to, density;
        binSpan(*this, k, from, to, density);
        const double overlap = std::min(to, high) - std::max(from, low);
        if (overlap > 0)
            variance += density * overlap;
    }
    return std::sqrt(variance);
}

std::vector<double> Spectrum::cumulativeRms() const
{
    std::vector<double> rms(asd.size());
    double variance = 0;
    for (std::size_t k = asd.size(); k-- > 0;) {
        variance += asd[k] * asd[k] * resolution;
        rms[k] = std::sqrt(variance);
    }
    return rms;
}

std::vector<Spectrum::Peak> Spectrum::peaks(int maxPeaks, double minProminence) const
{
    std::vector<Peak> found;
    const int count = bins();
    const int halfWidth = 16;
    std::vector<double> around;
    // From bin 2 on: bin 1 always stands above the DC bin, which the removal
    // of each segment's mean empties, without being a peak.
    for (int k = 2; k < count; ++k) {
        const double v = asd[std::size_t(k)];
        if (v <= asd[std::size_t(k - 1)] || (k + 1 < count && v < asd[std::size_t(k + 1)]))
            continue;
        around.clear();
        for (int j = std::max(1, k - halfWidth); j <= std::min(count - 1, k + halfWidth); ++j)
            around.push_back(asd[std::size_t(j)]);
        std::nth_element(around.begin(), around.begin() + long(around.size() / 2), around.end());
        const double median = around[around.size() / 2];
        const double prominence = median > 0 ? v / median : (v > 0 ? INFINITY : 0);
        if (prominence >= minProminence)
            found.push_back({frequency[std::size_t(k)], v, prominence});
    }
    std::sort(found.begin(), found.end(), [](const Peak &a, const Peak &b) { return a.asd > b.asd; });
    if (int(found.size()) > maxPeaks)
        found.resize(std::size_t(std::max(maxPeaks, 0)));
    return found;
}
