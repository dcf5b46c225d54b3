#include "display/StreamControl.h"

#include "controller/ControllerStatus.h"
#include "link/Connection.h"

#include <QThread>

namespace StreamControl {

QByteArray rateArguments(int rate)
{
    return QByteArray("\x00\x00", 2) + char((rate / 256) & 0xFF) + char(rate % 256) + ';';
}

bool isGoodReply(const QByteArray &reply)
{
    return reply.size() >= 2 && reply.at(0) == '\x00' && reply.at(1) == ';';
}

bool startStream(Connection *connection, int rate)
{
    connection->setSamplingRate(rate);
    connection->startStream(rateArguments(rate));
    QByteArray reply;
    connection->waitForReply(reply);
    return !reply.isEmpty() && reply.at(0) != '\x01';
}

void stopStream(Connection *connection)
{
    stopStreams({connection});
}

void stopStreams(const QList<Connection *> &connections)
{
    for (Connection *connection : connections)
        connection->clearLiveStream();
    QList<Connection *> unanswered;
    for (Connection *connection : connections) {
        QByteArray reply;
        if (!connection->waitForReply(reply) || reply.isEmpty())
            unanswered.append(connection);
    }
    for (Connection *connection : unanswered)
        connection->clearLiveStream();
    for (Connection *connection : unanswered) {
        QByteArray reply;
        connection->waitForReply(reply);
    }
}

unsigned char statusFromReply(const QByteArray &reply)
{
    if (reply.size() >= 4 && reply.at(0) == '\x00' && reply.at(1) == ';' && reply.at(3) == ';')
        return static_cast<unsigned char>(reply.at(2));
    return noStatus;
}

void applyStatusFlags(ControllerStatus &status, unsigned char flags)
{
    status.stabOn1 = flags & (1 << 3);
    status.stabOn2 = flags & (1 << 4);
    status.active1 = flags & (1 << 5);
    status.active2 = flags & (1 << 6);
}

bool readStatusInto(Connection *connection, ControllerStatus &status)
{
    connection->getStatusFlags();
    QByteArray reply;
    connection->waitForReply(reply);
    if (reply.size() <= 2)
        return false;
    applyStatusFlags(status, static_cast<unsigned char>(reply.at(2)));
    status.connected = true;
    return true;
}

StreamPause::StreamPause(Connection *connection)
    : link(connection)
{
    if (!link->isStreaming())
        return;
    streaming = true;
    rate = link->samplingRate();
    stopStream(link);
}

void StreamPause::refreshStatus(ControllerStatus &status)
{
    if (link->firmwareVersion() >= 11)
        return;
    QThread::msleep(100);
    readStatusInto(link, status);
}

bool StreamPause::resume()
{
    if (!streaming || resumed)
        return true;
    resumed = true;
    return startStream(link, rate);
}

} // namespace StreamControl
