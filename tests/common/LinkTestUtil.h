#pragma once

// Driving a started link from a test the way the user interface does:
// waiting for the connection, starting a stream, taking samples on a tick
// and stopping.

#include "link/Connection.h"

#include <QElapsedTimer>
#include <QVector>

inline const QByteArray goodReply("\x00;", 2);

// True once the link thread is connected; gives up when the thread ends or
// after 5 s (a hang guard).
inline bool waitUntilConnected(Connection &link)
{
    QElapsedTimer timer;
    timer.start();
    while (link.linkState() != Connection::Connected && !link.isFinished() && timer.elapsed() < 5000)
        QThread::msleep(1);
    return link.linkState() == Connection::Connected;
}

// Stream start arguments for a sampling rate: two option bytes, the rate.
inline QByteArray rateArguments(int rate)
{
    return QByteArray("\x00\x00", 2) + char(rate >> 8) + char(rate & 0xFF) + ';';
}

inline bool startStream(Connection &link, int rate = 500)
{
    link.setSamplingRate(rate);
    link.startStream(rateArguments(rate));
    QByteArray reply;
    return link.waitForReply(reply) && link.isStreaming();
}

inline QVector<StreamSample> takeAll(Connection &link)
{
    QVector<StreamSample> samples;
    StreamSample sample;
    while (link.takeSample(sample))
        samples << sample;
    return samples;
}

// Takes samples every 5 ms for the given time, like the display tick.
inline void takeFor(Connection &link, int milliseconds, QVector<StreamSample> &samples)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        samples += takeAll(link);
        QThread::msleep(5);
    }
    samples += takeAll(link);
}

// Takes samples of a running stream for the given time, stops it and takes
// what came with the stop. Returns every sample taken.
inline QVector<StreamSample> takeAndStop(Connection &link, int milliseconds, QByteArray &stopReply)
{
    QVector<StreamSample> samples;
    takeFor(link, milliseconds, samples);
    link.clearLiveStream();
    link.waitForReply(stopReply);
    return samples + takeAll(link);
}

// True when the samples carry exactly the sequence numbers 1, 2, ..., n that
// a simulator in benchmark mode puts into the last two range fields.
inline bool isComplete(const QVector<StreamSample> &samples)
{
    for (int i = 0; i < samples.size(); ++i)
        if (((quint32(quint16(samples[i].rangeX2)) << 16) | quint16(samples[i].rangeY2)) != quint32(i + 1))
            return false;
    return true;
}
