#include "link/StreamPause.h"

#include "link/Connection.h"

namespace {

bool isGood(const QByteArray &reply)
{
    return reply.size() >= 2 && reply.at(0) == '\0' && reply.at(1) == ';';
}

} // namespace

bool StreamPause::pause()
{
    running = link.isStreaming();
    runningRate = link.samplingRate();
    if (!running)
        return true;
    QByteArray reply;
    link.clearLiveStream();
    if (!link.waitForReply(reply) || !isGood(reply)) {
        link.clearLiveStream();
        link.waitForReply(reply);
    }
    return !link.isStreaming();
}

bool StreamPause::resume()
{
    if (!running)
        return true;
    running = false;
    if (!link.setSamplingRate(runningRate))
        return false;
    const QByteArray arguments = QByteArray("\x00\x00", 2) + char((runningRate >> 8) & 0xFF)
                                 + char(runningRate & 0xFF) + ';';
    link.startStream(arguments);
    QByteArray reply;
    link.waitForReply(reply);
    return link.isStreaming();
}
