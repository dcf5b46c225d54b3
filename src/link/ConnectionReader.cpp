// The reader of Connection: runs in the link thread whenever the device
// has bytes, and turns them into the reply of the command in flight or,
// while a stream runs, into samples in the store.

#include "link/Connection.h"

#include "link/LinkEventDispatcher.h"
#include "link/StreamMessage.h"
#include "link/StreamPump.h"
#include "link/SampleStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QIODevice>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace {

const QByteArray &goodAcknowledgement()
{
    static const QByteArray bytes("\x00;", 2);
    return bytes;
}

bool isGoodReply(const QByteArray &bytes)
{
    return bytes.size() > 1 && bytes.at(0) == '\0' && bytes.at(1) == ';';
}

// Link-thread wait step: let posted commands run, then sleep 1 ms.
void processAndSleep()
{
    QCoreApplication::processEvents();
    QThread::msleep(1);
}

} // namespace

void Connection::deliverReply(const QByteArray &bytes)
{
    // Only a caller that is still waiting gets the reply. When waitForReply
    // gave up (state back to Idle), a late reply is dropped here instead of
    // being taken for the answer to the next command.
    if (replyState.load(std::memory_order_acquire) != Awaited)
        return;
    reply = bytes;
    int expected = Awaited;
    replyState.compare_exchange_strong(expected, Ready, std::memory_order_acq_rel);
}

bool Connection::waitForBytes(QIODevice *dev, qint64 count)
{
    while (dev->bytesAvailable() < count && now() < readDeadline)
        processAndSleep();
    return dev->bytesAvailable() >= count;
}

void Connection::saveReply()
{
    QIODevice *dev = currentDevice();
    // The reader processes events while it waits, so readyRead can call it
    // again from inside itself; such a call is ignored, the running reader
    // takes those bytes. (A flag rather than disconnecting from readyRead
    // and connecting again on every call: a connect allocates, and this
    // runs for every stream message.)
    if (!dev || readerRunning)
        return;
    // The device only reads while the pump is off its descriptor; should it
    // do so anyway (its notifier was enabled again), the pump gives the
    // link back and the batch timer brings it to the pump again later.
    if (pumped) {
        takeBackFromPump();
        if (batchTimer && heldNotifier)
            startBatchTimer(std::max(1, streamBatchInterval()));
    }
    // Should the device have read on its own while bytes were held for the
    // next batch, those older bytes go in front of what it read.
    if (heldStreamBytes > 0)
        giveBackHeldBytes();
    readerRunning = true;
    if (streaming.load(std::memory_order_acquire) == 0) {
        if (replyState.load(std::memory_order_acquire) != Awaited) {
            discardUnsolicited(dev);
        } else {
            readReply(dev);
            // The start reply may arrive together with the first messages.
            if (streaming.load(std::memory_order_acquire) != 0 && dev->bytesAvailable() > 0)
                readStream(dev);
        }
    } else {
        readStream(dev);
    }
    readerRunning = false;
}

void Connection::discardUnsolicited(QIODevice *dev)
{
    // Nobody asked: a reply that came after its caller gave up, or noise.
    // It never reaches `reply`, which the caller may be copying, and the
    // next command waits for the line to go quiet.
    const QByteArray dropped = dev->readAll();
    if (dropped.isEmpty())
        return;
    outOfStep.store(true, std::memory_order_release);
    qDebug().noquote() << "Bytes without a command dropped:" << dropped.size();
}

void Connection::readReply(QIODevice *dev)
{
    replyReaderActive = true;
    if (streamCommandState.load(std::memory_order_acquire) == StopOutstanding) {
        readStopReply(dev);
        replyReaderActive = false;
        return;
    }
    // The reply has the base time-out from the moment the command was
    // written, however late its first byte came.
    readDeadline = writtenAt.load(std::memory_order_relaxed) + timeout;
    waitForBytes(dev, answerLength);
    const qint64 available = dev->bytesAvailable();
    const bool startOutstanding = streamCommandState.load(std::memory_order_acquire) == StartOutstanding;
    QByteArray received;
    if (available >= answerLength) {
        received = dev->read(answerLength);
        // A good start reply is the first stream message; it is not stored.
        if (startOutstanding && isGoodReply(received))
            streaming.store(1, std::memory_order_release);
    } else if (available == 2) {
        received = dev->read(2); // a short error answer
    } else {
        dev->readAll();
        outOfStep.store(true, std::memory_order_release); // the rest may still come
    }
    if (startOutstanding) {
        int expected = StartOutstanding;
        streamCommandState.compare_exchange_strong(expected, NoStreamCommand, std::memory_order_acq_rel);
    }
    deliverReply(received);
    replyReaderActive = false;
}

void Connection::readStopReply(QIODevice *dev)
{
    // The controller may still be sending stream messages: wait the whole
    // time, counted from the write, then keep only the trailing
    // confirmation.
    qDebug().noquote() << "Saving reply";
    const qint64 until = writtenAt.load(std::memory_order_relaxed) + timeout * 3 / 2;
    while (now() < until)
        processAndSleep();
    qDebug().noquote() << "Finished saving reply";
    const QByteArray received = dev->readAll();
    QByteArray confirmation;
    if (received.size() > 1 && received.endsWith(';') && received.at(received.size() - 2) == '\0') {
        confirmation = received.right(2);
        streaming.store(0, std::memory_order_release);
    }
    // A confirmed stop ends everything the controller had to say.
    outOfStep.store(confirmation.isEmpty(), std::memory_order_release);
    streamCommandState.store(NoStreamCommand, std::memory_order_release);
    deliverReply(confirmation);
}

bool Connection::stopPendingOnOldFirmware() const
{
    return firmwareVersion() < 11 && streamCommandState.load(std::memory_order_acquire) == StopOutstanding;
}

bool Connection::stopConfirmedWithoutLastMessage(QIODevice *dev)
{
    // Firmware 11 and later end a stream with a flagged last message and
    // then acknowledge the stop. When that message is lost, the bare
    // acknowledgement, alone in the input after a whole read time-out (a
    // message start would have been completed by then), confirms the stop.
    if (firmwareVersion() < 11 || streamCommandState.load(std::memory_order_acquire) != StopOutstanding)
        return false;
    if (dev->bytesAvailable() != 2 || dev->peek(2) != goodAcknowledgement())
        return false;
    qDebug().noquote() << "Stop confirmed without the last stream message";
    const QByteArray confirmation = dev->read(2);
    streaming.store(0, std::memory_order_release);
    outOfStep.store(false, std::memory_order_release);
    streamCommandState.store(NoStreamCommand, std::memory_order_release);
    deliverReply(confirmation);
    return true;
}

void Connection::readStream(QIODevice *dev)
{
    const bool withFlags = firmwareVersion() >= 11;
    const bool skipIgnored = withFlags && isVariantM();

    readDeadline = now() + timeout;
    if (dev->bytesAvailable() > 0) {
        for (;;) {
            if (now() > readDeadline || stopPendingOnOldFirmware())
                break;
            readDeadline = now() + timeout;
            waitForBytes(dev, StreamMessage::size);
            if (stopPendingOnOldFirmware())
                break;
            if (dev->bytesAvailable() < StreamMessage::size) {
                if (!stopConfirmedWithoutLastMessage(dev))
                    collectStreamLater(dev);
                return; // the rest arrives with the next readyRead
            }
            switch (decodeAvailable(dev, withFlags, skipIgnored)) {
            case ChunkEnd::Drained:
            case ChunkEnd::NotPlain: // not returned here: this reader takes every message
                break;
            case ChunkEnd::OutOfFrame:
                return;
            case ChunkEnd::LastMessage:
                finishStream(dev);
                return;
            }
            readDeadline = now() + timeout;
            if (dev->bytesAvailable() == 0)
                break;
        }
    }
    if (stopPendingOnOldFirmware())
        readStopReply(dev);
    else
        collectStreamLater(dev);
}

Connection::ChunkEnd Connection::decodeAvailable(QIODevice *dev, bool withFlags, bool skipIgnored)
{
    // Everything the device holds is copied out in one go and decoded in
    // one pass; whatever is not consumed (the start of a message still
    // coming, or what follows the last message of the stream) stays in the
    // device for the next read or the stop reply.
    const qint64 available = dev->bytesAvailable();
    if (streamBytes.size() < size_t(available))
        streamBytes.resize(size_t(available));
    const qint64 size = dev->peek(streamBytes.data(), available);
    qint64 consumed = 0;
    const ChunkEnd end = decodeBytes(streamBytes.data(), size < 0 ? 0 : size, withFlags, skipIgnored, consumed);
    dev->skip(consumed);
    return end;
}

Connection::ChunkEnd Connection::decodeBytes(const char *bytes, qint64 size, bool withFlags, bool skipIgnored,
                                             qint64 &consumed, bool plainOnly)
{
    // plainOnly (the pump): only valid messages that are neither ignored
    // nor the last one are taken; decoding stops in front of anything else
    // and leaves it, unread, to the link thread.
    const size_t maxSamples = size_t(size / StreamMessage::size) + 1;
    if (streamBatch.size() < maxSamples)
        streamBatch.resize(maxSamples);
    // One arrival time for all messages taken in this read.
    const auto arrival = static_cast<int32_t>(QDateTime::currentMSecsSinceEpoch() & 0xFFFFFFFF);

    qint64 pos = 0;
    int count = 0;
    ChunkEnd end = ChunkEnd::Drained;
    while (size - pos >= StreamMessage::size) {
        if (plainOnly) {
            const char *message = bytes + pos;
            if (!StreamMessage::isValid(message) || (skipIgnored && StreamMessage::isIgnoredSample(message))
                || (withFlags && StreamMessage::isLastMessage(message))) {
                end = ChunkEnd::NotPlain;
                break;
            }
            StreamMessage::decode(message, withFlags, arrival, streamBatch[size_t(count++)]);
            pos += StreamMessage::size;
            continue;
        }
        // Resynchronise byte by byte while more bytes follow the window.
        int skipped = 0;
        while (size - pos > StreamMessage::size && !StreamMessage::isValid(bytes + pos)) {
            ++pos;
            ++skipped;
        }
        if (skipped > 0) {
            resyncCount.fetch_add(1, std::memory_order_relaxed);
            qDebug().noquote() << "Incomplete stream message. Bytes skipped:" << skipped;
        }
        const char *message = bytes + pos;
        pos += StreamMessage::size;
        if (!StreamMessage::isValid(message)) {
            end = ChunkEnd::OutOfFrame; // dropped; reading resumes with new bytes
            break;
        }
        const bool ignored = skipIgnored && StreamMessage::isIgnoredSample(message);
        if (!ignored)
            StreamMessage::decode(message, withFlags, arrival, streamBatch[size_t(count++)]);
        if (withFlags && StreamMessage::isLastMessage(message)) {
            end = ChunkEnd::LastMessage;
            break;
        }
    }
    consumed = pos;
    if (count > 0)
        store->pushSamples(streamBatch.data(), count);
    return end;
}

QSocketNotifier *Connection::readNotifierOf(QIODevice *dev)
{
    // Sockets and serial ports watch their descriptor with a read notifier
    // of their own (a child object); holding it off is what lets the link
    // thread sleep through several messages. A device without one is read
    // as every message comes.
    if (dev != notifierDevice) {
        notifierDevice = dev;
        deviceNotifier = nullptr;
        directFd = -1;
        for (QSocketNotifier *candidate : dev->findChildren<QSocketNotifier *>()) {
            if (candidate->type() == QSocketNotifier::Read) {
                deviceNotifier = candidate;
                break;
            }
        }
        // The held device is read straight from its descriptor, which must
        // not block (both transports open theirs that way).
        if (deviceNotifier) {
            const int fd = int(deviceNotifier->socket());
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags != -1 && (flags & O_NONBLOCK))
                directFd = fd;
        }
    }
    return deviceNotifier;
}

void Connection::collectStreamLater(QIODevice *dev)
{
    const int interval = streamBatchInterval();
    if (interval <= 0 || streaming.load(std::memory_order_acquire) == 0
        || streamCommandState.load(std::memory_order_acquire) != NoStreamCommand)
        return;
    QSocketNotifier *notifier = readNotifierOf(dev);
    if (!notifier || heldNotifier)
        return;
    if (!batchTimer) {
        batchTimer = new QTimer;
        batchTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(batchTimer, &QTimer::timeout, batchTimer, [this] { advanceBatch(); });
    }
    // The device may enable its notifier again when the readyRead that
    // called the reader returns; it is held off from the event loop, once
    // the notification is over.
    holdPending = notifier;
    batchTimer->start(0);
}

void Connection::advanceBatch()
{
    if (holdPending) {
        heldNotifier = holdPending;
        holdPending = nullptr;
        heldNotifier->setEnabled(false);
        if (!StreamPump::enabled() || directFd < 0) {
            // Repeats: while the stream runs, the link thread wakes once per
            // interval, reads everything that came and sleeps again.
            startBatchTimer(streamBatchInterval());
            return;
        }
    }
    if (!collectHeldBytes())
        readEveryByte();
    else
        handToPump();
}

void Connection::startBatchTimer(int interval)
{
    batchTimer->start(interval);
    // Link threads batch on a common grid of whole milliseconds, each at
    // the offset of its slot: the threads of one slot (up to 16 links) wake
    // together, and the slots spread larger setups over the interval, so no
    // wake-up has every link to serve at once.
    if (auto *dispatcher = qobject_cast<LinkEventDispatcher *>(eventDispatcher()))
        dispatcher->alignTimer(batchTimer->timerId(), int(batchSlot % unsigned(interval)));
}

bool Connection::readHeldDescriptor(size_t &size)
{
    // Appends everything waiting at the descriptor to streamBytes (size
    // bytes in use) with plain non-blocking reads. Returns true when the
    // descriptor reported its end or an error.
    for (;;) {
        if (streamBytes.size() < size + batchReadSize)
            streamBytes.resize(size + batchReadSize);
        const ssize_t got = ::read(directFd, streamBytes.data() + size, batchReadSize);
        if (got > 0) {
            size += size_t(got);
            if (size_t(got) < batchReadSize)
                return false;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno != EAGAIN && errno != EWOULDBLOCK;
        if (isTcp())
            return true; // a socket reads 0 bytes at its end
        // A serial port reads 0 bytes both when nothing is waiting and
        // when it has been hung up; only the latter reports a hang-up.
        pollfd state{directFd, POLLIN, 0};
        return ::poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
}

bool Connection::collectHeldBytes()
{
    // One batch: the bytes held back from the last one, what the device
    // had buffered before it was held, then everything waiting at the
    // descriptor, read with plain reads (the device's own read would
    // enable its notifier again, and copies once more). Whole messages go
    // into the store; the start of one still coming is kept for the next
    // batch. Returns false when the link must go back to reading every
    // byte through the device: the stream or the batching ended, a command
    // is in flight, or the descriptor reported the end or an error, which
    // the device then finds out and reports as it always does.
    takeBackFromPump();
    QIODevice *dev = currentDevice();
    const int interval = streamBatchInterval();
    if (!dev || dev != notifierDevice || !heldNotifier || directFd < 0 || interval <= 0
        || streaming.load(std::memory_order_acquire) == 0
        || streamCommandState.load(std::memory_order_acquire) != NoStreamCommand)
        return false;
    if (readerRunning)
        return true; // a reader further up the stack takes the bytes; next time
    if (heldNotifier->isEnabled())
        heldNotifier->setEnabled(false); // the device may have enabled it again
    if (batchTimer->isActive() && batchTimer->interval() != interval)
        startBatchTimer(interval);
    readerRunning = true;

    size_t size = heldStreamBytes;
    const qint64 buffered = dev->bytesAvailable();
    if (buffered > 0) {
        if (streamBytes.size() < size + size_t(buffered))
            streamBytes.resize(size + size_t(buffered));
        // Exactly what the buffer holds: the device does not touch the
        // descriptor for it.
        const qint64 got = dev->read(streamBytes.data() + size, buffered);
        size += size_t(got > 0 ? got : 0);
    }
    const bool ended = readHeldDescriptor(size);

    const bool withFlags = firmwareVersion() >= 11;
    qint64 consumed = 0;
    const ChunkEnd end = decodeBytes(streamBytes.data(), qint64(size), withFlags, withFlags && isVariantM(), consumed);
    heldStreamBytes = size - size_t(consumed);
    if (heldStreamBytes > 0)
        std::memmove(streamBytes.data(), streamBytes.data() + consumed, heldStreamBytes);
    readerRunning = false;
    if (end == ChunkEnd::LastMessage) {
        // What follows the last message is for the readers of the device.
        giveBackHeldBytes();
        finishStream(dev);
        return false;
    }
    return !ended;
}

void Connection::giveBackHeldBytes()
{
    takeBackFromPump();
    // Bytes held back by the batch reader go in front of the device's
    // buffer, so the readers of the device see them first, in order.
    QIODevice *dev = notifierDevice;
    if (heldStreamBytes > 0 && dev && dev == currentDevice() && dev->isOpen()) {
        for (size_t i = heldStreamBytes; i-- > 0;)
            dev->ungetChar(streamBytes[i]);
    }
    heldStreamBytes = 0;
}

void Connection::takeHeldStreamBytes()
{
    // Delivered the way the event loop would, without running the loop (no
    // other posted command may be written from here): the device reads what
    // is waiting and the reader decodes it.
    QSocketNotifier *notifier = heldNotifier ? heldNotifier.data() : holdPending.data();
    if (!notifier)
        return;
    if (heldNotifier && !readerRunning && collectHeldBytes()) {
        readEveryByte();
        return;
    }
    readEveryByte();
    pollfd waiting{int(notifier->socket()), POLLIN, 0};
    if (::poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN)) {
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent(notifier, &event);
    }
}

void Connection::readEveryByte()
{
    // Bytes that came meanwhile make the notifier fire at once, and the
    // reader takes them all.
    takeBackFromPump();
    if (batchTimer)
        batchTimer->stop();
    holdPending = nullptr;
    giveBackHeldBytes();
    if (heldNotifier)
        heldNotifier->setEnabled(true);
    heldNotifier = nullptr;
}

void Connection::finishStream(QIODevice *dev)
{
    streaming.store(0, std::memory_order_release);
    if (streamCommandState.load(std::memory_order_acquire) != StopOutstanding)
        return;
    readDeadline = now() + timeout;
    const QByteArray confirmation = waitForBytes(dev, 2) ? dev->read(2) : QByteArray();
    outOfStep.store(confirmation.isEmpty(), std::memory_order_release);
    streamCommandState.store(NoStreamCommand, std::memory_order_release);
    deliverReply(confirmation);
}

