#include "controller/OpeningSequences.h"

#include "link/Connection.h"
#include "link/Identification.h"
#include "link/Protocol.h"

namespace LinkSequences {

namespace {

// "CLS;" `times` times, each reply awaited and not judged: stops a stream
// that an earlier run left going. False when cancelled on the way.
bool stopStreamBlindly(Connection &link, int times, const CancelCheck &cancelled)
{
    for (int i = 0; i < times; ++i) {
        if (isCancelled(cancelled))
            return false;
        link.clearLiveStream();
        awaitReply(link);
    }
    return !isCancelled(cancelled);
}

} // namespace

Opening openAndIdentify(Connection &link, int waitMs, int stopAttempts, const CancelCheck &cancelled)
{
    Opening opening;
    opening.connected = open(link, waitMs, cancelled);
    if (!opening.connected || !stopStreamBlindly(link, stopAttempts, cancelled))
        return opening;
    link.getControllerId();
    const QByteArray reply = awaitReply(link);
    opening.identity = parseIdentification(reply);
    if (applyIdentification(link, opening.identity))
        opening.storedId = QString::fromLatin1(reply.mid(2)).remove(QLatin1Char(';'));
    return opening;
}

bool changeBaudRate(Connection &link, int newBaud, int waitMs, const CancelCheck &cancelled)
{
    QByteArray reply;
    const bool connected = open(link, waitMs, cancelled);
    if (connected && stopStreamBlindly(link, 2, cancelled)) {
        link.setBaudRate(Protocol::baudRateArguments(newBaud));
        reply = awaitReply(link);
    }
    if (link.isRunning())
        link.disconnectLink();
    return connected && !reply.isEmpty() && reply.at(0) == '\0';
}

} // namespace LinkSequences
