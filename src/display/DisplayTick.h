#pragma once

#include "display/PointingStatistics.h"
#include "link/StreamSample.h"

#include <QVector>

#include <functional>

class ControllerRegistry;
class DisplayUnits;
class GenericPlot;

// The six plots of the live display, per stage (index 0 = stage 1).
struct DisplayPlots
{
    GenericPlot *position[2] = {nullptr, nullptr};
    GenericPlot *time[2] = {nullptr, nullptr};
    GenericPlot *intensity[2] = {nullptr, nullptr};
};

// The sample side of the display tick: takes the samples of every displayed
// controller out of its store, converts them into the display units and
// feeds the plots, the 41-value averages of the numeric displays, the piezo
// range bars and the pointing statistics. Runs on the user-interface thread.
class DisplayTick
{
public:
    static constexpr int maxSamplesPerTick = 501;
    static constexpr int averageLength = 41;
    static constexpr double sweepWidthMs = 10000.0;

    // Receives every processed sample: display position d, connection index
    // c and the sample as the controller sent it.
    using RecorderHook = std::function<void(int d, int c, const StreamSample &sample)>;
    // Receives every processed sample with its positions in the display
    // units (x1, y1, x2, y2; NaN where a detector model has none). Set only
    // while something listens (the jitter analysis window), so it costs
    // nothing otherwise.
    using SampleTap = std::function<void(int c, const double positions[4], const StreamSample &sample)>;

    struct Result {
        int taken = 0;          // samples taken out of the stores in this tick
        int largestFill = 0;    // the fullest store before taking
        bool runFinished = false; // a pointing-mode run reached its target
        bool numericsValid = false; // exactly one controller displayed and a sample seen
        bool barsValid = false;     // a sample of the active controller seen
    };

    // The plots are read through the reference at every tick, so they may be
    // filled in after construction.
    DisplayTick(ControllerRegistry &registry, const DisplayPlots &plots);
    void setStatistics(PointingStatistics *pointing) { statistics = pointing; }

    void setRecorderHook(RecorderHook hook) { recorderHook = std::move(hook); }
    void setSampleTap(SampleTap tap) { sampleTap = std::move(tap); }
    bool hasSampleTap() const { return bool(sampleTap); }

    // One tick with acquisition running.
    Result run(int samplingRate, const DisplayUnits &units);

    // Points per plotted sample of a time plot: one every N samples, N =
    // floor(sampling rate / plot width in pixels), at least 1.
    static int decimation(int samplingRate, int plotWidth);
    // Milliseconds from a sweep's origin to a sample time on the wrapping
    // 32-bit millisecond clock.
    static quint32 sinceOrigin(qint32 time, quint32 origin) { return quint32(time) - origin; }
    // A position in the display unit: volts, or the stage's detector model's
    // length when the stage shows lengths. NaN when the model has none.
    double positionValue(int raw, int intensity, int connection, int stage, int lengthUnit) const;

    // Sweeps start again at this clock time (low 32 bits of ms since the epoch).
    void restartSweeps(quint32 now);
    void clearAverages();
    // Mean of a numeric display (0 x1, 1 y1, 2 i1, 3 x2, 4 y2, 5 i2).
    double average(int which) const;
    // The actuator range values of the last sample of the active
    // controller, in volts: x1, y1, x2, y2.
    double bar(int which) const { return bars[which]; }
    // Samples taken from each displayed controller (display order) in the
    // last run.
    const QVector<int> &takenPerDisplayed() const { return perController; }

    quint32 timeOrigin[2] = {0, 0};
    double timeWindow[2] = {sweepWidthMs, sweepWidthMs};
    int samplesToTake = -1;   // pointing-mode target; -1 in oscilloscope mode
    int samplesTaken = 0;
    PointingStatistics::Positions current{0.0, 0.0, 0.0, 0.0};

private:
    void pushAverage(int which, double value);

    ControllerRegistry &registry;
    const DisplayPlots &plots;
    PointingStatistics *statistics = nullptr;
    RecorderHook recorderHook;
    SampleTap sampleTap;
    QVector<StreamSample> samples; // reused: no allocation per tick
    QVector<int> perController;
    QVector<double> averageWindow[6];
    double bars[4] = {0, 0, 0, 0};
};
