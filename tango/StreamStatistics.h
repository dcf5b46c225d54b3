#pragma once

#include "link/StreamSample.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class StageDetectors;

// Means of one event period: what the device server publishes at its event
// rate instead of every sample of a fast stream.
struct PeriodMeans
{
    int samples = 0;          // stream samples folded into the period
    int positionSamples[2] = {0, 0}; // of them with a finite position, per stage
    double x[2] = {0, 0};     // position in the stage's unit (NaN without one)
    double y[2] = {0, 0};
    double intensity[2] = {0, 0}; // V
    double rangeX[2] = {0, 0};    // actuator ranges, V
    double rangeY[2] = {0, 0};
    bool stabOn[2] = {false, false}; // flags of the period's last sample
    bool active[2] = {false, false};
};

// Rolling statistics of one stage over the last window of positions.
struct StageStatistics
{
    int samples = 0;
    double meanX = 0;
    double meanY = 0;
    double rmsRadius = 0; // root of the mean squared distance from (meanX, meanY)
};

// Turns the raw stream of one controller into what the device server shows:
// period means (for events), rolling mean and RMS radius per stage over a
// window of positions, and the last raw samples. Positions are converted with
// the controller's detector models (millivolts x 0.001, then the model when
// the stage shows lengths). Not thread-safe: the owner locks.
class StreamStatistics
{
public:
    StreamStatistics(int statisticsWindow, int rawCapacity);
    ~StreamStatistics();

    // Replaces the detector models (copied). Clears the position windows,
    // whose values may be in another unit.
    void setDetectors(const StageDetectors &detectors);
    QString unit(int stage) const;

    void add(const StreamSample &sample);

    // Means over the samples added since the last call, then starts a new period.
    PeriodMeans takePeriod();
    StageStatistics stageStatistics(int stage) const;

    // The last raw samples, oldest first (at most rawCapacity).
    std::vector<StreamSample> rawSamples() const;
    int rawCapacity() const { return int(raw.size()); }
    int windowSize() const { return window; }

    // Forgets every sample (period, windows, raw samples).
    void clear();

private:
    struct Point { double x; double y; };
    double position(int stage, int16_t signal, uint16_t intensity) const;

    std::unique_ptr<StageDetectors> detectors;
    const int window;
    std::vector<Point> points[2]; // rings of the last `window` finite positions
    int pointHead[2] = {0, 0};
    int pointCount[2] = {0, 0};
    std::vector<StreamSample> raw;
    int rawHead = 0;
    int rawCount = 0;

    // Running sums of the current period.
    int periodSamples = 0;
    int periodPositions[2] = {0, 0};
    double sumX[2] = {0, 0}, sumY[2] = {0, 0}, sumI[2] = {0, 0};
    double sumRangeX[2] = {0, 0}, sumRangeY[2] = {0, 0};
    StreamSample last;
};
