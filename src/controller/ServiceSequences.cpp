#include "controller/ServiceSequences.h"

#include "controller/LinkSequences.h"
#include "link/Connection.h"
#include "link/Identification.h"
#include "link/Protocol.h"
#include "link/StreamPause.h"

namespace ServiceSequences {

namespace {

// Opens the link again at `parameter` (baud rate or TCP port) and asks for
// the identification; true when the controller answers with a valid one.
// Opening a port or connecting a socket takes milliseconds; the wait is
// bounded by twice the link's base time-out.
bool reopenAndCheck(Connection &link, int parameter)
{
    link.disconnectLink();
    if (!link.initialize(link.address(), parameter))
        return false;
    if (!LinkSequences::open(link, 2 * link.baseTimeout()))
        return false;
    link.getControllerId();
    QByteArray reply;
    link.waitForReply(reply);
    return parseIdentification(reply).valid;
}

} // namespace

Exchange exchange(Connection &link, const std::function<void(Connection &)> &send)
{
    Exchange out;
    StreamPause pause(link);
    pause.pause();
    send(link);
    link.waitForReply(out.reply);
    out.streamResumed = pause.resume();
    return out;
}

BaudChange changeBaudRate(Connection &link, int baudRate)
{
    BaudChange out;
    out.tcp = link.isTcp();
    out.oldParameter = link.parameter();
    StreamPause pause(link);
    pause.pause();
    link.setBaudRate(Protocol::baudRateArguments(baudRate));
    QByteArray reply;
    link.waitForReply(reply);

    if (!Protocol::isAcknowledged(reply)) {
        out.result = BaudChange::Refused;
        out.connected = link.linkState() == Connection::Connected;
    } else if (out.tcp) {
        // The rate is the controller's serial side; the network link is
        // reopened as it was.
        out.result = reopenAndCheck(link, out.oldParameter) ? BaudChange::Reopened : BaudChange::Lost;
    } else if (reopenAndCheck(link, baudRate)) {
        out.result = BaudChange::Reopened;
    } else if (baudRate != out.oldParameter && reopenAndCheck(link, out.oldParameter)) {
        // The controller acknowledged but did not follow: keep talking to it
        // at the rate that works.
        out.result = BaudChange::FellBack;
    } else {
        out.result = BaudChange::Lost;
    }
    out.streamResumed = pause.resume();
    return out;
}

} // namespace ServiceSequences
