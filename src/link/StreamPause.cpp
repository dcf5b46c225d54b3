#include "link/StreamPause.h"

#include "link/Connection.h"
#include "link/Protocol.h"

bool StreamPause::pause()
{
    running = link.isStreaming();
    runningRate = link.samplingRate();
    if (!running)
        return true;
    QByteArray reply;
    link.clearLiveStream();
    if (!link.waitForReply(reply) || !Protocol::isGoodReply(reply)) {
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
    link.startStream(Protocol::rateArguments(runningRate));
    QByteArray reply;
    link.waitForReply(reply);
    return link.isStreaming();
}
