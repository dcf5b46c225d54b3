#pragma once

#include "JitterRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <vector>

// Every column of a recording as written: the names with their units
// ("X1(mm)"), one vector of numbers per column, and the text of the
// recording's .json (empty when there is none).
struct RecordTable
{
    QDateTime start;
    QList<QByteArray> columns;
    std::vector<std::vector<double>> values; // [column][line]
    QByteArray metadata;

    // Index of the column whose name without its unit is `name`, -1 if none.
    int column(const QByteArray &name) const;
    std::size_t rows() const { return values.empty() ? 0 : values.front().size(); }
};

// Reads a recording file written by the recorder: the "Start:" line, the
// column names with their units, an empty line, then tab-separated data
// lines (ms, X1, Y1, I1, X2, Y2, I2, RX1, RY1, RX2, RY2). The columns are
// found by name, so their order does not matter.
//
// The ms column is the arrival time of each sample, which comes in bursts;
// the samples themselves are evenly spaced by the controller. The rate is
// therefore taken from the "saveRateHz" of the recording's .json when there
// is one, and otherwise from the number of samples over the time they span.
class RecordReader
{
public:
    // Reads path (and path + ".json" when present). On failure returns false
    // with a message naming the file and, for bad data, the line.
    static bool readFile(const QString &path, JitterRecord &record, QString &error);

    // Every column of a recording file and its .json's text; failures as
    // readFile's.
    static bool readTableFile(const QString &path, RecordTable &table, QString &error);

    // The header and every data line of a recording, whatever its columns:
    // a last line without its line feed is dropped, any other line that is
    // not a full set of numbers is an error naming the line.
    static bool parseTable(const QByteArray &text, RecordTable &table, QString &error);

    // The positions and actuator ranges of a table (which gives its columns
    // up); false naming the first column that is missing.
    static bool toRecord(RecordTable &table, JitterRecord &record, QString &error);

    // Parses the text of a recording. A last line without its line feed (a
    // recording cut short while being written) is dropped; any other line
    // that is not a full set of numbers is an error naming the line.
    static bool parse(const QByteArray &text, JitterRecord &record, QString &error);

    // The unit inside "X1(...)": the local 8-bit "µm" (one byte 0xB5) and its
    // UTF-8 form are both understood.
    static QString unitOf(const QByteArray &columnName);
};
