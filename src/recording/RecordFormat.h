#pragma once

#include "link/StreamSample.h"

#include <QByteArray>
#include <QDateTime>

class Detector;

// Text of a recording file: tab-separated, lines ended by a line feed.
//
//   Start: 2026-12-06T01:02:03
//   ms  X1(mm)  Y1(mm)  I1(V)  X2(V)  Y2(V)  I2(V)  RX1(V)  RY1(V)  RX2(V)  RY2(V)
//   (empty line)
//   0   0.1234  -0.0420 2.51   ...
//
// Positions are volts (raw x 0.001) when the stage's model shows volts and the
// model's position in its length unit otherwise, with the model's record
// decimals; intensities and actuator ranges are volts with 2 decimals. The
// numbers are the same as C's "%.*f" gives, without its cost.
class RecordFormat
{
public:
    // Room one value may take (the longest finite double in fixed notation
    // with 15 decimals) and room a whole data line may take.
    static constexpr int maxValueLength = 330;
    static constexpr int maxLineLength = 11 * (maxValueLength + 1);

    // "Start: " + local date and time, the column names and the empty line.
    // The unit texts are converted to the local 8-bit encoding.
    static QByteArray header(const QDateTime &start, const Detector &stage1, const Detector &stage2);

    // Writes one data line (with its line feed) into out, which holds at
    // least maxLineLength bytes, and returns its length. ms is the time since
    // the controller's first recorded sample. No allocation.
    static int formatLine(char *out, quint32 ms, const StreamSample &sample, const Detector &stage1,
                          const Detector &stage2);

    // value with the given decimals (0 to 15), fixed point, '.' separator,
    // "nan" / "inf" as C writes them; no terminating zero. out must hold at
    // least maxValueLength bytes.
    static int formatFixed(char *out, double value, int decimals);
};
