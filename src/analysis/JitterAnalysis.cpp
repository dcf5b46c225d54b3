#include "JitterAnalysis.h"

#include <cmath>
#include <future>

std::vector<JitterAnalysis::Band> JitterAnalysis::standardBands(double sampleRate)
{
    const double nyquist = sampleRate / 2;
    std::vector<Band> bands = {{0.1, 1.0, 0}, {1.0, 10.0, 0}, {10.0, 100.0, 0}, {100.0, nyquist, 0}};
    for (Band &b : bands)
        b.high = std::min(b.high, nyquist);
    return bands;
}

const std::vector<double> &JitterAnalysis::standardTaus()
{
    static const std::vector<double> taus = {0.01, 0.1, 1.0, 10.0, 100.0};
    return taus;
}

JitterAnalysis::Axis JitterAnalysis::analyzeAxis(const std::vector<double> &position, const std::vector<double> &range,
                                                 double sampleRate, const Settings &settings)
{
    Axis a;
    const std::size_t n = position.size();
    if (n > 0) {
        double sum = 0;
        for (double v : position)
            sum += v;
        a.mean = sum / double(n);
        double squares = 0;
        for (double v : position)
            squares += (v - a.mean) * (v - a.mean);
        a.rms = std::sqrt(squares / double(n));
    }
    a.spectrum = Spectrum::welch(position.data(), n, sampleRate, settings.segmentLength);
    a.cumulativeRms = a.spectrum.cumulativeRms();
    a.bands = standardBands(sampleRate);
    for (Band &b : a.bands) {
        // A band needs at least one bin of width above its lower edge.
        b.rms = (a.spectrum.isEmpty() || b.low >= b.high || b.high <= a.spectrum.resolution / 2)
                    ? NAN
                    : a.spectrum.bandRms(b.low, b.high);
    }
    a.peaks = a.spectrum.peaks(settings.maxPeaks);
    const AllanDeviation allan(position.data(), n, sampleRate);
    a.allan = allan.octaves();
    for (double tau : standardTaus())
        a.allanAtStandardTaus.push_back(allan.atTau(tau));
    a.headroom = Headroom::compute(range.data(), range.size(), sampleRate, settings.headroomFitSeconds);
    return a;
}

std::vector<JitterAnalysis::Axis> JitterAnalysis::analyze(const JitterRecord &record, const Settings &settings)
{
    // The four axes are independent: each is analysed on a thread of its own.
    std::vector<std::future<Axis>> running;
    for (int i = 0; i < 4; ++i) {
        running.push_back(std::async(std::launch::async, [&record, &settings, i] {
            const int stage = i / 2, axis = i % 2;
            Axis a = analyzeAxis(record.position[stage][axis], record.range[stage][axis], record.sampleRate, settings);
            a.stage = stage + 1;
            a.axis = axis ? 'y' : 'x';
            a.unit = record.positionUnit[stage];
            return a;
        }));
    }
    std::vector<Axis> axes;
    for (std::future<Axis> &f : running)
        axes.push_back(f.get());
    return axes;
}
