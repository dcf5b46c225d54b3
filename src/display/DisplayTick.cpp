#include "display/DisplayTick.h"

#include "controller/Controller.h"

#include "controller/ControllerRegistry.h"
#include "controller/DisplayUnits.h"
#include "display/GenericPlot.h"
#include "link/Connection.h"

#include <QtMath>

#include <cmath>

DisplayTick::DisplayTick(ControllerRegistry &reg, const DisplayPlots &p)
    : registry(reg)
    , plots(p)
{
    samples.reserve(maxSamplesPerTick * 4);
}

int DisplayTick::decimation(int samplingRate, int plotWidth)
{
    if (plotWidth <= 0)
        return 1;
    return qMax(1, samplingRate / plotWidth);
}

double DisplayTick::positionValue(int raw, int intensity, int connection, int stage, int lengthUnit) const
{
    if (lengthUnit && (stage == 1 || stage == 2))
        return registry.stageDetectors.at(connection).stage(stage - 1)->calculatePosition(raw * 0.001, intensity * 0.001);
    return raw * 0.001;
}

void DisplayTick::restartSweeps(quint32 now)
{
    timeOrigin[0] = timeOrigin[1] = now;
}

void DisplayTick::clearAverages()
{
    for (QVector<double> &window : averageWindow)
        window.clear();
    for (double &b : bars)
        b = 0.0;
}

double DisplayTick::average(int which) const
{
    const QVector<double> &window = averageWindow[which];
    if (window.isEmpty())
        return 0.0;
    double sum = 0.0;
    for (double v : window)
        sum += v;
    return sum / window.size();
}

void DisplayTick::pushAverage(int which, double value)
{
    // A position without a finite value is left out of the mean.
    if (!std::isfinite(value))
        return;
    QVector<double> &window = averageWindow[which];
    if (window.size() >= averageLength)
        window.removeFirst();
    window.append(value);
}

DisplayTick::Result DisplayTick::run(int samplingRate, const DisplayUnits &units)
{
    Result result;
    const QList<int> &shown = registry.displayed;

    // Collect: up to 501 samples per displayed controller, in display order.
    samples.resize(0);
    perController.resize(0);
    for (int c : shown) {
        Connection *link = registry.link(c);
        // A speed test takes this controller's samples itself: none for
        // the display meanwhile.
        if (registry.controllers.at(c)->ownsSamples()) {
            perController.append(0);
            continue;
        }
        const int stored = link->storedSamples();
        result.largestFill = qMax(result.largestFill, stored);
        // One lock per controller: the batch goes straight into the buffer.
        // Samples that arrive after the count wait for the next tick.
        const int before = samples.size();
        samples.resize(before + qMin(stored, maxSamplesPerTick));
        const int n = link->takeSamples(samples.data() + before, samples.size() - before);
        samples.resize(before + n);
        perController.append(n);
    }
    result.taken = samples.size();

    int decimate[2];
    for (int s = 0; s < 2; ++s)
        decimate[s] = decimation(samplingRate, plots.time[s]->canvas()->width());
    const int unit[2] = {units.lengthUnit(1), units.lengthUnit(2)};
    const bool single = shown.size() == 1;

    int next = 0;
    for (int d = 0; d < shown.size() && !result.runFinished; ++d) {
        const int c = shown.at(d);
        const bool triggered = registry.stageDetectors.at(c).triggerDisplay;
        const bool newFlags = registry.link(c)->firmwareVersion() > 10;
        // The first sample of every controller in a tick is plotted.
        int countdown[2] = {decimate[0] - 1, decimate[1] - 1};
        const int end = next + perController.at(d);
        for (int k = next; k < end; ++k) {
            const StreamSample &sample = samples.at(k);
            const int rawX[2] = {sample.x1, sample.x2};
            const int rawY[2] = {sample.y1, sample.y2};
            const int rawI[2] = {sample.intensity1, sample.intensity2};
            double x[2], y[2];
            for (int s = 0; s < 2; ++s) {
                x[s] = positionValue(rawX[s], rawI[s], c, s + 1, unit[s]);
                y[s] = positionValue(rawY[s], rawI[s], c, s + 1, unit[s]);
                const bool finite = std::isfinite(x[s]) && std::isfinite(y[s]);
                const quint32 since = sinceOrigin(sample.time, timeOrigin[s]);
                const double t = since / 1000.0;
                if (countdown[s] + 1 == decimate[s] || triggered) {
                    if (finite) {
                        plots.time[s]->appendData(2 * c, QPointF(t, x[s]));
                        plots.time[s]->appendData(2 * c + 1, QPointF(t, y[s]));
                    }
                    plots.intensity[s]->appendData(c, QPointF(t, rawI[s] * 0.001));
                    countdown[s] = 0;
                } else {
                    ++countdown[s];
                }
                if (finite)
                    plots.position[s]->appendData(c, QPointF(x[s], y[s]));
            }
            if (sampleTap) {
                const double positions[4] = {x[0], y[0], x[1], y[1]};
                sampleTap(c, positions, sample);
            }

            if (single) {
                pushAverage(0, x[0]);
                pushAverage(1, y[0]);
                pushAverage(2, sample.intensity1 * 0.001);
                pushAverage(3, x[1]);
                pushAverage(4, y[1]);
                pushAverage(5, sample.intensity2 * 0.001);
                result.numericsValid = true;
            }
            if (c == registry.activeIndex) {
                bars[0] = sample.rangeX1 * 0.001;
                bars[1] = sample.rangeY1 * 0.001;
                bars[2] = sample.rangeX2 * 0.001;
                bars[3] = sample.rangeY2 * 0.001;
                result.barsValid = true;
            }

            // Only the first displayed controller restarts a sweep.
            for (int s = 0; s < 2 && d == 0; ++s) {
                if (double(sinceOrigin(sample.time, timeOrigin[s])) > timeWindow[s]) {
                    plots.time[s]->clearAllCurves();
                    plots.intensity[s]->clearAllCurves();
                    timeOrigin[s] = quint32(sample.time);
                }
            }

            if (samplesToTake != -1 && samplesTaken < samplesToTake) {
                current = PointingStatistics::Positions{x[0], y[0], x[1], y[1]};
                if (d == 0)
                    ++samplesTaken;
                if (statistics)
                    statistics->update(samplesTaken, c, samplesTaken, false, current);
            }
            if (samplesToTake != -1 && samplesTaken >= samplesToTake && d == shown.size() - 1) {
                if (statistics)
                    statistics->update(samplesTaken, c, samplesTaken, true);
                result.runFinished = true;
                break;
            }

            // ---- Recording hand-off ----------------------------------------
            // Every processed sample passes here with its display position d
            // and connection index c; the recorder decides what it writes.
            if (recorderHook)
                recorderHook(d, c, sample);
            // ---------------------------------------------------------------

            // Controllers from firmware 11 on carry their flags in the stream.
            if (newFlags && k == end - 1) {
                ControllerStatus &status = registry.controllerStatus[c];
                status.multiplex1 = sample.multiplex1;
                status.multiplex2 = sample.multiplex2;
                status.stabOn1 = sample.stabOn1;
                status.stabOn2 = sample.stabOn2;
                status.active1 = sample.active1;
                status.active2 = sample.active2;
                status.connected = true;
            }
        }
        next = end;
    }

    for (int s = 0; s < 2; ++s) {
        plots.position[s]->replot();
        plots.time[s]->replot();
        plots.intensity[s]->replot();
    }
    return result;
}
