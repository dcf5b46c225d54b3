// The stream pump's side of Connection: handing an undisturbed stream to
// the process's one StreamPump thread, the pump's read of it, and taking
// it back. See StreamPump for when a link hands its stream over.

#include "link/Connection.h"

#include "link/StreamPump.h"
#include "link/ThreadAnnotations.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>

void Connection::handToPump()
{
    // Called with the stream held and everything read so far decoded: the
    // device's buffer is empty, and the link thread will not touch the
    // device again before it has taken the stream back.
    const int interval = std::max(1, streamBatchInterval());
    if (!StreamPump::enabled() || readerRunning || !heldNotifier || directFd < 0) {
        if (!batchTimer->isActive() || batchTimer->interval() != interval)
            startBatchTimer(interval);
        return;
    }
    if (heldNotifier->isEnabled())
        heldNotifier->setEnabled(false); // a read of the device may have enabled it again
    batchTimer->stop();
    pumped = true;
    pumpedInterval = streamBatchInterval();
    StreamPump::instance().attach(this, pumpedInterval, ++pumpTicket);
}

void Connection::takeBackFromPump()
{
    if (!pumped)
        return;
    // Waits for a pass of the pump in progress; afterwards the pump no
    // longer touches this link, and its lock orders what it wrote before
    // what this thread reads.
    StreamPump::instance().detach(this);
    pumped = false;
}

int Connection::pumpSocket() const
{
    return isTcp() ? directFd : -1;
}

char *Connection::pumpReadArea()
{
    if (streamBytes.size() < heldStreamBytes + batchReadSize)
        streamBytes.resize(heldStreamBytes + batchReadSize);
    return streamBytes.data() + heldStreamBytes;
}

bool Connection::pumpStream(long received)
{
    // Pump thread: take what the pump received into pumpReadArea() (or read
    // the descriptor here) and decode the plain messages in front. The start
    // of a message still coming stays held for the next pass. A changed
    // batch interval is for the link thread to apply.
    size_t size = heldStreamBytes;
    bool ended = false;
    if (received == notRead) {
        ended = readHeldDescriptor(size);
    } else if (received > 0) {
        size += size_t(received);
        if (size_t(received) == batchReadSize) // more may wait
            ended = readHeldDescriptor(size);
    } else {
        // A socket receives 0 bytes at its end; -EAGAIN: nothing waits.
        ended = received == 0 || (received != -EAGAIN && received != -EWOULDBLOCK && received != -EINTR);
    }
    const bool withFlags = firmwareVersion() >= 11;
    qint64 consumed = 0;
    const ChunkEnd end =
        decodeBytes(streamBytes.data(), qint64(size), withFlags, withFlags && isVariantM(), consumed, true);
    heldStreamBytes = size - size_t(consumed);
    if (heldStreamBytes > 0 && consumed > 0)
        std::memmove(streamBytes.data(), streamBytes.data() + consumed, heldStreamBytes);
    return !ended && end == ChunkEnd::Drained && streamBatchInterval() == pumpedInterval;
}

void Connection::handBackFromPump(unsigned ticket)
{
    // Pump thread, under its lock: the batch timer lives until the link
    // has taken the stream back, and posting is safe from any thread. The
    // link thread's dispatcher takes the posting tag before it runs posted
    // events (for ThreadSanitizer, which cannot see the toolkit's lock).
    annotateAcquire(&relayLock);
    QMetaObject::invokeMethod(batchTimer, [this, ticket] { pumpHandedBack(ticket); }, Qt::QueuedConnection);
    annotateRelease(&relayLock);
}

void Connection::pumpHandedBack(unsigned ticket)
{
    // The link thread goes on from the first byte the pump left: the same
    // batch read as without the pump (resynchronisation, end of the stream,
    // the descriptor's end), then back to the pump if all is plain again.
    if (!pumped || ticket != pumpTicket)
        return; // taken back meanwhile
    takeBackFromPump();
    advanceBatch();
}
