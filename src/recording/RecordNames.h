#pragma once

#include <QString>

// Names and sizes of recordings, shared by the recording dialog, the
// recorder and the command-line tool.
namespace RecordNames {

// Bytes one data line is estimated to take.
constexpr qint64 bytesPerLine = 65;
// Estimates above this many bytes get the large-file warning.
constexpr qint64 largeFileBytes = 2147483648LL;

// The file a typed name means: ".csv" is appended unless the name ends in
// ".csv", ".txt" or ".xls" (case-sensitive); a name without '/' is placed in
// the "Data" directory below dataDirectory.
QString completePath(const QString &typedName, const QString &dataDirectory);

// The file of one controller when each displayed controller gets its own:
// the file name of path is split at its first '.', and "_" + label goes
// between stem and extension ("Data/run1.csv", "A" -> "Data/run1_A.csv").
QString controllerPath(const QString &path, const QString &label);

// "hhh:mm:ss" in seconds; the parts are read as typed (minutes and seconds
// up to 99 count as such). Parts that are not numbers count as 0.
qint64 recordSeconds(const QString &hhhmmss);

// The proposed name of a new recording: "Talvix_" + local date and time + ".csv".
QString proposedFileName();

} // namespace RecordNames
