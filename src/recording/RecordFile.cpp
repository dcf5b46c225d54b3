#include "RecordFile.h"

#include "RecordFormat.h"

#include <algorithm>

RecordFile::RecordFile(const QString &path)
    : m_file(path), m_buffer(bufferSize + RecordFormat::maxLineLength)
{
}

RecordFile::~RecordFile()
{
    close();
}

bool RecordFile::open(const QByteArray &header)
{
    if (m_file.isOpen())
        return true;
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_failed = true;
        m_error = m_file.errorString();
        return false;
    }
    m_used = 0;
    m_fileSize = 0;
    m_linesWritten = m_linesPending = m_linesLost = 0;
    m_failed = false;
    m_error.clear();
    if (m_file.write(header) != header.size()) {
        m_error = m_file.errorString();
        m_failed = true;
        m_file.close();
        return false;
    }
    m_fileSize = header.size();
    return true;
}

bool RecordFile::appendLine(quint32 ms, const StreamSample &sample, const Detector &stage1, const Detector &stage2)
{
    if (!m_file.isOpen()) {
        ++m_linesLost;
        return false;
    }
    if (m_used + RecordFormat::maxLineLength > int(m_buffer.size()) && !flush()) {
        ++m_linesLost;
        return false;
    }
    if (m_linesPending == 0)
        m_pendingSince.start();
    m_used += RecordFormat::formatLine(m_buffer.data() + m_used, ms, sample, stage1, stage2);
    ++m_linesPending;
    if (m_used >= bufferSize)
        return flush();
    return true;
}

bool RecordFile::flush()
{
    if (!m_file.isOpen())
        return false;
    qint64 written = 0;
    while (written < m_used) {
        const qint64 n = m_file.write(m_buffer.data() + written, m_used - written);
        if (n <= 0)
            break;
        written += n;
    }
    if (written == m_used) {
        m_fileSize += m_used;
        m_linesWritten += m_linesPending;
        m_used = 0;
        m_linesPending = 0;
        return true;
    }
    // Keep the lines that reached the file in full and cut off the rest.
    const QString reason = m_file.errorString();
    const char *begin = m_buffer.data();
    const auto lastFeed = std::find(std::make_reverse_iterator(begin + written), std::make_reverse_iterator(begin), '\n');
    const qint64 kept = lastFeed.base() - begin;
    const qint64 keptLines = std::count(begin, begin + kept, '\n');
    m_fileSize += kept;
    m_linesWritten += keptLines;
    m_linesLost += m_linesPending - keptLines;
    m_linesPending = 0;
    m_used = 0;
    if (!m_file.resize(m_fileSize))
        fail(reason + QStringLiteral("; the last line may be incomplete (") + m_file.errorString() + ')');
    else
        fail(reason);
    return false;
}

bool RecordFile::flushIfOlderThan(qint64 maxAgeMs)
{
    if (m_linesPending == 0 || m_pendingSince.elapsed() < maxAgeMs)
        return true;
    return flush();
}

bool RecordFile::close()
{
    if (!m_file.isOpen())
        return !m_failed;
    const bool ok = flush();
    if (m_file.isOpen())
        m_file.close();
    return ok;
}

void RecordFile::fail(const QString &reason)
{
    m_failed = true;
    m_error = reason.isEmpty() ? QStringLiteral("write error") : reason;
    m_file.close();
}
