#pragma once

#include "AllanDeviation.h"
#include "Headroom.h"
#include "JitterRecord.h"
#include "WelchDensity.h"

#include <vector>

// The jitter figures of one record: per stage and axis the time-domain RMS,
// the Welch spectrum with its cumulative RMS, band RMS values, the ASD
// peaks, the Allan deviation over octaves, and the actuator's headroom.
class JitterAnalysis
{
public:
    struct Settings
    {
        int segmentLength = 4096;    // Welch segment, samples
        double headroomFitSeconds = 120.0;
        int maxPeaks = 3;
    };

    struct Band
    {
        double low = 0;  // Hz
        double high = 0; // Hz
        double rms = 0;  // NaN when the band lies above the Nyquist frequency
    };

    struct Axis
    {
        int stage = 0;    // 1 or 2
        char axis = 'x';  // 'x' or 'y'
        QString unit;
        double mean = 0;
        double rms = 0;   // about the mean, time domain
        Spectrum spectrum;
        std::vector<double> cumulativeRms;
        std::vector<Band> bands;
        std::vector<Spectrum::Peak> peaks;
        std::vector<AllanDeviation::Point> allan;
        std::vector<double> allanAtStandardTaus; // NaN where the record does not allow
        Headroom headroom;
    };

    // The standard bands (0.1-1, 1-10, 10-100 Hz, 100 Hz-Nyquist) and the
    // standard averaging times (0.01, 0.1, 1, 10, 100 s) of the report.
    static std::vector<Band> standardBands(double sampleRate);
    static const std::vector<double> &standardTaus();

    // Analyses the four axes (stage 1 x, y, stage 2 x, y), one per thread
    // where OpenMP allows.
    static std::vector<Axis> analyze(const JitterRecord &record, const Settings &settings);
    static Axis analyzeAxis(const std::vector<double> &position, const std::vector<double> &range, double sampleRate,
                            const Settings &settings);
};
