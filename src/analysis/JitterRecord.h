#pragma once

#include <QDateTime>
#include <QString>

#include <vector>

// The series one jitter analysis works on: the x and y positions of both
// stages and the four actuator voltages, evenly sampled at sampleRate. Filled
// from a recording file (RecordReader) or from samples of a live stream.
struct JitterRecord
{
    double sampleRate = 0;      // Hz
    QString sampleRateSource;   // where the rate came from, for the report
    QDateTime start;            // of the recording; invalid when unknown
    QString positionUnit[2];    // per stage: "V", "mm" or "µm"
    std::vector<double> position[2][2]; // [stage][0 = x, 1 = y]
    std::vector<double> range[2][2];    // actuator voltage, [stage][x, y], V

    std::size_t samples() const { return position[0][0].size(); }
    double seconds() const { return sampleRate > 0 ? double(samples()) / sampleRate : 0.0; }
};
