#pragma once

#include "link/StreamSample.h"

#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <vector>

class Detector;

// One recording file. Data lines are formatted into a preallocated buffer and
// written to the file when the buffer fills or flush() is called (the
// recorder does so at least once a second), so the per-sample path does not
// allocate and does not make a system call.
//
// A write that fails (disk full, file size limit, I/O error) closes the file
// after cutting it back to its last complete line: the file then holds the
// header and every line that was written in full, never a partial line.
// failed() and errorString() tell what happened; later lines are counted as
// lost.
class RecordFile
{
public:
    static constexpr int bufferSize = 64 * 1024;

    explicit RecordFile(const QString &path);
    ~RecordFile(); // flushes and closes
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;

    // Creates or truncates the file (opened for reading and writing) and
    // writes header. False when the file cannot be created or the header not
    // written; errorString() says why.
    bool open(const QByteArray &header);

    // Appends one data line; false when the file is not open (closed, never
    // opened or failed), in which case the line counts as lost.
    bool appendLine(quint32 ms, const StreamSample &sample, const Detector &stage1, const Detector &stage2);

    // Writes the buffered lines to the file. False on a write error (the file
    // is then cut back and closed) or when it is not open.
    bool flush();
    // flush() if the oldest buffered line waited at least maxAgeMs; true
    // when nothing was due.
    bool flushIfOlderThan(qint64 maxAgeMs);
    // Flushes and closes; true when everything appended reached the file.
    bool close();

    bool isOpen() const { return m_file.isOpen(); }
    bool failed() const { return m_failed; }
    QString errorString() const { return m_error; }
    QString path() const { return m_file.fileName(); }
    qint64 linesWritten() const { return m_linesWritten; }   // complete lines in the file
    qint64 linesPending() const { return m_linesPending; }   // buffered, not yet in the file
    qint64 linesLost() const { return m_linesLost; }         // appended but never written

private:
    void fail(const QString &reason);

    QFile m_file;
    std::vector<char> m_buffer;
    int m_used = 0;
    qint64 m_fileSize = 0;       // bytes of complete lines in the file
    qint64 m_linesWritten = 0;
    qint64 m_linesPending = 0;
    qint64 m_linesLost = 0;
    QElapsedTimer m_pendingSince; // valid while lines are buffered
    bool m_failed = false;
    QString m_error;
};
