#pragma once

#include <cstddef>
#include <vector>

// One-sided amplitude spectral density of a sampled signal, estimated with
// Welch's method: Hann-windowed segments overlapping by half, each with its
// mean removed, periodograms averaged. The ASD is in the signal's unit per
// square root of hertz; its square integrated over frequency is the variance.
class Spectrum
{
public:
    // A peak of the ASD: frequency (Hz), ASD there, and how far it stands
    // above the local median of the ASD (a ratio).
    struct Peak
    {
        double frequency = 0;
        double asd = 0;
        double prominence = 0;
    };

    // Estimates the spectrum of data[0..count) sampled at sampleRate (Hz)
    // with segments of segmentLength samples (at least 8; shortened to the
    // record when the record is shorter). An empty spectrum when count < 8 or
    // the rate is not positive.
    static Spectrum welch(const double *data, std::size_t count, double sampleRate, int segmentLength);

    bool isEmpty() const { return asd.empty(); }
    int bins() const { return int(asd.size()); }

    // RMS of the band [low, high) Hz: the PSD integrated over the band, each
    // bin covering its resolution width centred on its frequency; partial
    // overlaps count in proportion.
    double bandRms(double low, double high) const;

    // RMS from each bin up to the Nyquist frequency (index k: bins k..end),
    // accumulated from the highest frequency down; element 0 is the total.
    std::vector<double> cumulativeRms() const;

    // Up to maxPeaks local maxima (DC and the first bin excluded), highest ASD first, among
    // those that stand at least minProminence times above the median ASD of
    // the 32 bins around them (so the slope of a drift spectrum is no peak).
    std::vector<Peak> peaks(int maxPeaks, double minProminence = 4.0) const;

    double sampleRate = 0;
    double resolution = 0;   // bin spacing, Hz
    int segmentLength = 0;   // samples per segment actually used
    int segments = 0;        // segments averaged
    std::vector<double> frequency; // Hz, 0 .. Nyquist
    std::vector<double> asd;       // unit / sqrt(Hz)
};
