#pragma once

#include "controller/LinkSequences.h"

#include <QString>

class Connection;

// The sequences that bring a fresh link into use: opening and identifying
// it, and moving a serial controller to another baud rate. Blocking, like
// every sequence: they run only on a controller's worker thread.
namespace LinkSequences {

// What opening and identifying a fresh link came to.
struct Opening
{
    bool connected = false;      // the link reached the connected state in time
    ControllerIdentity identity; // not valid when not connected, cancelled or not identified
    // The controller ID as a stored setup names it: the identification reply
    // without its first 2 bytes and without any ';'. Empty unless valid.
    QString storedId;
};

// open(), then on a link that connected stopAttempts times "CLS;" and
// "GID;"; a valid identity is applied to the link. Gives up at its next
// step when cancelled.
Opening openAndIdentify(Connection &link, int waitMs, int stopAttempts = 2, const CancelCheck &cancelled = {});

// Moves a serial controller to another baud rate through a link opened at
// its current rate: waits up to `waitMs` for the link, "CLS;" twice, then
// the baud-rate command; ends the link thread in every case. True when the
// controller accepted (first reply byte 0).
bool changeBaudRate(Connection &link, int newBaud, int waitMs, const CancelCheck &cancelled = {});

} // namespace LinkSequences
