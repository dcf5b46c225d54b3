#pragma once

#include "link/Identification.h"
#include "link/LinkSpeedTest.h"
#include "link/Protocol.h"

#include <QByteArray>
#include <QString>

#include <functional>

class Connection;

// The command sequences of one controller, written as plain blocking code on
// a Connection. They wait for replies, so they run only on the controller's
// own worker thread (see Controller), never on the user-interface thread.
// Every exchange keeps the bytes and the order the controller expects.
namespace LinkSequences {

// Returns true when the caller asked the running sequence to give up.
using CancelCheck = std::function<bool()>;

// True when a check is given and says the sequence is to give up.
bool isCancelled(const CancelCheck &cancelled);

// Waits for the reply to the command just posted: the reply bytes, empty on
// a time-out or a dropped command.
QByteArray awaitReply(Connection &link);

// Posts one command (its answer length from the command table) and waits for
// the reply: the reply bytes, empty on a time-out or a dropped command.
QByteArray ask(Connection &link, const QByteArray &command);

// Starts the link thread unless it runs, then polls until the link is
// connected, its thread has ended, the sequence is cancelled or
// `milliseconds` have passed.
bool open(Connection &link, int milliseconds, const CancelCheck &cancelled = {});

// Waits (1 ms steps) until the link is connected or its thread has ended.
bool waitForConnected(Connection &link, int milliseconds, const CancelCheck &cancelled = {});

// stopAttempts times "CLS;" (to stop a stream left running by an earlier
// run), then "GID;"; a valid identity is applied to the link.
ControllerIdentity identify(Connection &link, int stopAttempts = 2, const CancelCheck &cancelled = {});

// "CLS;", and once more when the reply is not a good one; the second reply
// is not judged. Sent whether or not the link streams.
void stopStream(Connection &link);
// The same, giving the last reply (a good one: the stop was confirmed).
QByteArray stopStreamReply(Connection &link);

// Sets the sampling rate and starts the stream. False when there was no
// reply or the controller refused.
bool startStream(Connection &link, int rate);
// The same, giving the reply of the start command (a started stream shows
// in link.isStreaming()).
QByteArray startStreamReply(Connection &link, int rate);

// "GSF;": the status flags, not valid on a time-out or a short reply.
Protocol::StatusFlags readStatus(Connection &link);

// Stores the label on the link and sends it ("SLA"); true when accepted.
bool sendLabel(Connection &link, const QString &label);

// What a command sent to a controller that may be streaming came to.
struct PausedOutcome
{
    QByteArray reply;           // the (last) reply of the command
    bool accepted = false;      // the reply is a good one
    bool streamResumed = true;  // false: the stream ran before and did not start again
    Protocol::StatusFlags status; // firmware below 11: the flags read after the command
};

// Called in a stream pause just before the stream restarts (which empties
// the link's store): a consumer that must not lose a sample takes the
// samples left in the store here.
using BeforeResume = std::function<void()>;

// Stops a running stream, runs `exchange` (which returns the command's
// reply), and restarts the stream at its rate. On firmware below 11 the
// controller needs 100 ms before its flags show the command; then they are
// read before the stream restarts.
PausedOutcome paused(Connection &link, const std::function<QByteArray()> &exchange,
                     const BeforeResume &beforeResume = {});

// "SEA"/"CEA" for a stage, up to `attempts` times until one is accepted,
// inside a stream pause.
PausedOutcome switchStabilization(Connection &link, int stage, bool on, int attempts = 1,
                                  const BeforeResume &beforeResume = {});

// "SMD"/"CMD" for a stage inside a stream pause; accepted when the first
// reply byte is 0x00.
PausedOutcome setMultiplex(Connection &link, int stage, bool on);

// Stream pause, measurement (LinkSpeedTest), stream restart.
struct SpeedOutcome
{
    LinkSpeedTest::Result result;
    bool streamResumed = true;
};
SpeedOutcome speedTest(Connection &link, int rate, int durationMs);

// Ends the link thread (when it runs) and starts it again, waits up to
// `waitMs` for the link, then identifies with three stop attempts.
// Invalid identity when the link did not come back or did not identify; in
// the latter case the link is disconnected again.
ControllerIdentity reconnect(Connection &link, int waitMs);

} // namespace LinkSequences
