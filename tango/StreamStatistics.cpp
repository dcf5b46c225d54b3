#include "StreamStatistics.h"

#include "analysis/PointingAccumulator.h"

#include "detectors/StageDetectors.h"

#include <algorithm>
#include <cmath>
#include <limits>

StreamStatistics::StreamStatistics(int statisticsWindow, int rawCapacity)
    : detectors(new StageDetectors), window(std::max(1, statisticsWindow)),
      raw(std::size_t(std::max(1, rawCapacity)))
{
    for (auto &ring : points)
        ring.resize(std::size_t(window));
}

StreamStatistics::~StreamStatistics() = default;

void StreamStatistics::setDetectors(const StageDetectors &models)
{
    detectors.reset(new StageDetectors(models));
    for (int s = 0; s < 2; ++s)
        pointHead[s] = pointCount[s] = 0;
    takePeriod();
}

QString StreamStatistics::unit(int stage) const
{
    const Detector *model = detectors->stage(stage);
    return model ? model->unitText() : QString("V");
}

double StreamStatistics::position(int stage, int16_t signal, uint16_t intensity) const
{
    const Detector *model = detectors->stage(stage);
    const double volts = signal * 0.001;
    if (!model || !model->showsLength())
        return volts;
    return model->calculatePosition(volts, intensity * 0.001);
}

void StreamStatistics::add(const StreamSample &sample)
{
    raw[std::size_t(rawHead)] = sample;
    rawHead = (rawHead + 1) % int(raw.size());
    rawCount = std::min(rawCount + 1, int(raw.size()));

    const int16_t xs[2] = {sample.x1, sample.x2};
    const int16_t ys[2] = {sample.y1, sample.y2};
    const uint16_t is[2] = {sample.intensity1, sample.intensity2};
    const int16_t rx[2] = {sample.rangeX1, sample.rangeX2};
    const int16_t ry[2] = {sample.rangeY1, sample.rangeY2};
    for (int s = 0; s < 2; ++s) {
        const double x = position(s, xs[s], is[s]);
        const double y = position(s, ys[s], is[s]);
        sumI[s] += is[s] * 0.001;
        sumRangeX[s] += rx[s] * 0.001;
        sumRangeY[s] += ry[s] * 0.001;
        // A position without a finite value (a quadrant detector without
        // light) is left out of the means rather than counted as zero.
        if (!Detector::isValidPosition(x) || !Detector::isValidPosition(y))
            continue;
        sumX[s] += x;
        sumY[s] += y;
        ++periodPositions[s];
        points[s][std::size_t(pointHead[s])] = {x, y};
        pointHead[s] = (pointHead[s] + 1) % window;
        pointCount[s] = std::min(pointCount[s] + 1, window);
    }
    ++periodSamples;
    last = sample;
}

PeriodMeans StreamStatistics::takePeriod()
{
    PeriodMeans m;
    m.samples = periodSamples;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const bool stab[2] = {last.stabOn1, last.stabOn2};
    const bool act[2] = {last.active1, last.active2};
    for (int s = 0; s < 2; ++s) {
        m.positionSamples[s] = periodPositions[s];
        m.x[s] = periodPositions[s] ? sumX[s] / periodPositions[s] : nan;
        m.y[s] = periodPositions[s] ? sumY[s] / periodPositions[s] : nan;
        m.intensity[s] = periodSamples ? sumI[s] / periodSamples : nan;
        m.rangeX[s] = periodSamples ? sumRangeX[s] / periodSamples : nan;
        m.rangeY[s] = periodSamples ? sumRangeY[s] / periodSamples : nan;
        m.stabOn[s] = stab[s];
        m.active[s] = act[s];
        sumX[s] = sumY[s] = sumI[s] = sumRangeX[s] = sumRangeY[s] = 0;
        periodPositions[s] = 0;
    }
    periodSamples = 0;
    return m;
}

StageStatistics StreamStatistics::stageStatistics(int stage) const
{
    StageStatistics st;
    if (stage < 0 || stage > 1 || pointCount[stage] == 0)
        return st;
    // The RMS radius about the mean of the statistics window, by the same
    // accumulator as the main window's pointing statistics.
    const auto &ring = points[stage];
    PointingAccumulator accumulator;
    for (int i = 0; i < pointCount[stage]; ++i)
        accumulator.add(ring[std::size_t(i)].x, ring[std::size_t(i)].y);
    st.samples = accumulator.count();
    st.meanX = accumulator.meanX();
    st.meanY = accumulator.meanY();
    st.rmsRadius = accumulator.rmsRadius();
    return st;
}

std::vector<StreamSample> StreamStatistics::rawSamples() const
{
    std::vector<StreamSample> out;
    out.reserve(std::size_t(rawCount));
    const int size = int(raw.size());
    for (int i = 0; i < rawCount; ++i)
        out.push_back(raw[std::size_t((rawHead - rawCount + i + size) % size)]);
    return out;
}

void StreamStatistics::clear()
{
    rawHead = rawCount = 0;
    for (int s = 0; s < 2; ++s)
        pointHead[s] = pointCount[s] = 0;
    takePeriod();
    last = StreamSample();
}
