#pragma once

#include <QByteArray>

#include <functional>

class Connection;

// The command sequences of the service dialog's operation tests, written as
// blocking code on one Connection for the controller's worker thread
// (Controller::request). Each stops a running stream first and restarts it
// at its rate afterwards.
namespace ServiceSequences {

struct Exchange
{
    QByteArray reply;          // empty on a time-out
    bool streamResumed = true;
};

// Stream pause, `send` (one command sent through a Connection sender), the
// reply, stream resume.
Exchange exchange(Connection &link, const std::function<void(Connection &)> &send);

// What a baud-rate change came to.
struct BaudChange
{
    enum Result {
        Refused,      // the controller kept its rate; the link is untouched
        Reopened,     // the link runs at the new rate (TCP: reopened as it was)
        FellBack,     // no answer at the new rate, the link runs at the old one
        Lost          // no answer at either rate: the link needs a reconnect
    };
    Result result = Refused;
    bool tcp = false;
    int oldParameter = 0;        // baud rate (serial) or port (TCP) before
    bool connected = true;       // the link is open after a refusal
    bool streamResumed = true;
};

// Stream pause, SBR with the new rate's code; when acknowledged, the link is
// taken down and opened again at the new rate (TCP: as it was) and checked
// with GID, falling back to the old rate when the controller does not answer;
// stream resume.
BaudChange changeBaudRate(Connection &link, int baudRate);

} // namespace ServiceSequences
