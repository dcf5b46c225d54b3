#include "link/LinkSpeedTest.h"

#include "link/Connection.h"
#include "link/Protocol.h"

#include <QThread>

LinkSpeedTest::Result LinkSpeedTest::run(Connection &link, int rate, int durationMs)
{
    Result result;
    result.expected = int(qint64(rate) * durationMs / 1000);

    StreamSample sample;
    while (link.takeSample(sample)) {
    }

    // The measurement needs the fixed-rate stream: in trigger mode the start
    // command would ask for one message per trigger pulse instead.
    const bool triggerMode = link.isTriggerMode();
    link.setTriggerMode(false);
    link.startStream(Protocol::rateArguments(rate));
    link.setTriggerMode(triggerMode);
    QByteArray reply;
    // A refusal is two bytes long but starts no stream; only a running
    // stream can be measured.
    if (!link.waitForReply(reply) || reply.size() < 2 || !link.isStreaming()) {
        result.outcome = StartFailed;
        return result;
    }

    QThread::msleep(static_cast<unsigned long>(durationMs));

    link.clearLiveStream();
    if (!link.waitForReply(reply) || reply.size() < 2) {
        result.outcome = StopFailed;
        return result;
    }

    while (link.takeSample(sample))
        ++result.received;
    result.outcome = Measured;
    return result;
}

QString LinkSpeedTest::describe(const Result &result)
{
    switch (result.outcome) {
    case StartFailed:
        return QStringLiteral("Speed Test: Failed - stream couldn't start");
    case StopFailed:
        return QStringLiteral("Speed Test: Failed - stream couldn't be stopped - maybe reconnect");
    case Measured:
        break;
    }
    return QStringLiteral("Speed Test: %1 of %2 received").arg(result.received).arg(result.expected);
}
