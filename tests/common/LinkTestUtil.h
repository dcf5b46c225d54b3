#pragma once

// Driving a started link the way the user interface does.

#include "link/Connection.h"

#include <QtTest>

#include <memory>

inline const QByteArray goodReply("\x00;", 2);

// True once the link thread is connected; false when it ends first.
inline bool waitUntilConnected(Connection &link)
{
    return QTest::qWaitFor([&link] { return link.linkState() == Connection::Connected || link.isFinished(); }, 5000)
        && link.linkState() == Connection::Connected;
}

// The addresses the link reports as gone, collected in this thread's event loop.
inline std::shared_ptr<QStringList> watchDisconnects(Connection &link, QObject *receiver)
{
    auto reported = std::make_shared<QStringList>();
    QObject::connect(&link, &Connection::hostDisconnected, receiver,
                     [reported](const QString &address) { *reported << address; }, Qt::QueuedConnection);
    return reported;
}

// Stream start arguments for a sampling rate: two option bytes, the rate.
inline QByteArray rateArguments(int rate) { return QByteArray("\x00\x00", 2) + char(rate >> 8) + char(rate & 0xFF) + ';'; }

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
    for (StreamSample sample; link.takeSample(sample);)
        samples << sample;
    return samples;
}

// Takes samples every 5 ms for the given time, like the display tick.
inline QVector<StreamSample> takeFor(Connection &link, int milliseconds)
{
    QVector<StreamSample> samples;
    QElapsedTimer timer;
    for (timer.start(); timer.elapsed() < milliseconds; QThread::msleep(5))
        samples += takeAll(link);
    return samples + takeAll(link);
}

// Takes samples for the given time, stops the stream, takes the rest.
inline QVector<StreamSample> takeAndStop(Connection &link, int milliseconds, QByteArray &stopReply)
{
    const QVector<StreamSample> samples = takeFor(link, milliseconds);
    link.clearLiveStream();
    link.waitForReply(stopReply);
    return samples + takeAll(link);
}

// The sequence number a simulator in bench mode puts into a sample.
inline quint32 sequenceOf(const StreamSample &s) { return quint32(quint16(s.rangeX2)) << 16 | quint16(s.rangeY2); }

// True for exactly the sequence numbers 1..n of a simulator in bench mode.
inline bool isComplete(const QVector<StreamSample> &samples)
{
    for (int i = 0; i < samples.size(); ++i)
        if (sequenceOf(samples[i]) != quint32(i + 1))
            return false;
    return true;
}
