#pragma once

#include <QByteArray>
#include <QList>

class Connection;
struct ControllerStatus;

// The command sequences the display sends to one controller: start and stop
// of its stream, the status flags query, and the pause around a command to a
// streaming controller (which accepts nothing but the stream stop).
namespace StreamControl {

// The status value that stands for "no status".
constexpr unsigned char noStatus = 128;

// Stream start arguments for a sampling rate: two option bytes, the rate
// (high byte first) and ';'.
QByteArray rateArguments(int rate);

// A reply that begins 0x00 ';'.
bool isGoodReply(const QByteArray &reply);

// setSamplingRate + startStream + waitForReply. False when there was no
// reply or the controller refused (first byte 1): the caller shows the
// streaming error.
bool startStream(Connection *connection, int rate);

// CLS, once more when there was no reply; the second result is not judged.
void stopStream(Connection *connection);

// The same for several controllers at once: every stop is written before
// the first wait, so the reply times (a controller that is not streaming
// answers a stop only after its full reply time) overlap instead of adding
// up one controller after another.
void stopStreams(const QList<Connection *> &connections);

// The flags byte of a status reply (at least 0x00 ';' flags ';'), else noStatus.
unsigned char statusFromReply(const QByteArray &reply);

// Stage flags from a flags byte: bit 3/4 stabilization on, bit 5/6 active.
void applyStatusFlags(ControllerStatus &status, unsigned char flags);

// GSF + waitForReply; a reply longer than 2 bytes updates the stage flags
// and marks the controller connected. Returns whether it did.
bool readStatusInto(Connection *connection, ControllerStatus &status);

// Stops a streaming controller for the length of a command and restarts it
// at its own sampling rate afterwards:
//   StreamPause pause(link);
//   ... send the command, wait for its reply ...
//   pause.refreshStatus(status);   // firmware below 11 only
//   if (!pause.resume()) showStreamingError();
class StreamPause
{
public:
    explicit StreamPause(Connection *connection);
    bool wasStreaming() const { return streaming; }
    // On firmware below 11 the controller needs 100 ms before its flags
    // reflect the command; then they are read into status.
    void refreshStatus(ControllerStatus &status);
    // Restarts the stream if it ran; false when the restart failed.
    bool resume();

private:
    Connection *link;
    bool streaming = false;
    int rate = 0;
    bool resumed = false;
};

} // namespace StreamControl
