#include "link/Connection.h"

#include "link/Protocol.h"
#include "link/LinkEventDispatcher.h"
#include "link/StreamMessage.h"
#include "link/StreamPump.h"
#include "link/ThreadAnnotations.h"
#include "link/CommandRelay.h"
#include "link/SampleStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMetaObject>
#include <QMutexLocker>
#include <QTimer>

namespace {

constexpr int storeCapacity = 1040;
constexpr int threadEndChecks = 1500; // of 10 ms each

// Links are numbered as they are made; each group of this many shares a
// batch slot (see startBatchTimer).
std::atomic<unsigned> linksMade{0};
constexpr unsigned linksPerBatchSlot = 16;

const QByteArray stopCommand = QByteArrayLiteral("CLS;");

bool isStreamStart(const QByteArray &message)
{
    return message.size() >= 3
           && (message.startsWith("SLS") || message.startsWith("SGS") || message.startsWith("SPS"));
}

} // namespace

Connection::Connection(QObject *parent)
    : QThread(parent), store(new SampleStore(storeCapacity)), batchSlot(linksMade.fetch_add(1, std::memory_order_relaxed) / linksPerBatchSlot)
{
    // The thread deletes its dispatcher when it finishes; a second start of
    // the same thread runs on the toolkit's default one.
    setEventDispatcher(new LinkEventDispatcher(&relayLock)); // commands are posted under relayLock
}

Connection::~Connection()
{
    stopLinkThread();
    // Only a link thread ended by force can have left its stream with the pump.
    if (pumped)
        StreamPump::instance().detach(this);
    // A thread that never ran still holds the dispatcher given above.
    delete eventDispatcher();
}

qint64 Connection::now()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return clock.elapsed();
}

void Connection::dispose()
{
    deleteLater();
}

QString Connection::label() const
{
    QMutexLocker lock(&labelLock);
    annotateAcquire(&labelLock);
    QString copy = labelText;
    annotateRelease(&labelLock);
    return copy;
}

void Connection::setLabel(const QString &text)
{
    QMutexLocker lock(&labelLock);
    annotateAcquire(&labelLock);
    labelText = text;
    annotateRelease(&labelLock);
}

bool Connection::setSamplingRate(int value)
{
    if (value < 1 || value > 500)
        return false;
    rate.store(value, std::memory_order_relaxed);
    return true;
}

bool Connection::takeSample(StreamSample &sample)
{
    // pop() checks for an empty store under the same lock; asking count()
    // first would only lock twice per sample.
    return store->pop(sample);
}

qint64 Connection::droppedSamples() const
{
    return store->dropped();
}

int Connection::takeSamples(StreamSample *out, int maxCount)
{
    return store->takeSamples(out, maxCount);
}

int Connection::storedSamples() const
{
    return store->count();
}

qint64 Connection::droppedSamplesTotal() const
{
    return store->droppedTotal();
}

// ---------------------------------------------------------------- posting

bool Connection::post(const QByteArray &message, int answer)
{
    QMutexLocker lock(&relayLock);
    annotateAcquire(&relayLock);
    const bool posted = commandRelay
                        && QMetaObject::invokeMethod(commandRelay, "sendMessage", Qt::QueuedConnection,
                                                     Q_ARG(QByteArray, message), Q_ARG(int, answer));
    if (posted)
        postedCommands.fetch_add(1, std::memory_order_relaxed);
    annotateRelease(&relayLock);
    return posted;
}

void Connection::waitUntilHandled()
{
    // Bounded: commands queued for a link thread that has ended are never
    // handled.
    const qint64 deadline = now() + 2 * timeout;
    while (handledCommands.load(std::memory_order_acquire) != postedCommands.load(std::memory_order_relaxed)
           && isRunning() && now() < deadline)
        QThread::msleep(1);
}

void Connection::postMessage(const QByteArray &message, int answer)
{
    post(message, answer);
    QThread::msleep(1);
}

void Connection::sendCommand(const QByteArray &command)
{
    postMessage(command, Protocol::answerLength(command));
}

void Connection::clearLiveStream()
{
    // The caller is held until the link thread has written the stop command
    // (or dropped it), but never longer than the reply wait: a link thread
    // that is just ending cannot hold the caller.
    if (post(stopCommand, Protocol::answerLength(stopCommand)))
        waitUntilHandled();
    QThread::msleep(1);
}

void Connection::startStream(const QByteArray &arguments)
{
    store->clear();
    if (isVariantM()) {
        sendCommand("SGS" + arguments);
    } else if (isTriggerMode()) {
        // Trigger mode has no rate: drop the two rate bytes.
        QByteArray withoutRate = arguments;
        withoutRate.remove(2, 2);
        sendCommand("SPS" + withoutRate);
    } else {
        sendCommand("SLS" + arguments);
    }
}

void Connection::getStreamSample() { sendCommand("S1S;"); }
void Connection::getStatusFlags() { sendCommand("GSF;"); }
void Connection::getControllerId() { sendCommand("GID;"); }
void Connection::getActiveSignal() { sendCommand("GAS;"); }
void Connection::getIntensity(const QByteArray &a) { sendCommand("GIN" + a); }
void Connection::getAdjustIn(const QByteArray &a) { sendCommand("GAI" + a); }
void Connection::setAdjustIn(const QByteArray &a) { sendCommand("SAI" + a); }
void Connection::getPFactor(const QByteArray &a) { sendCommand("GPF" + a); }
void Connection::setPFactor(const QByteArray &a) { sendCommand("SPF" + a); }
void Connection::getDetectorSensitivity(const QByteArray &a) { sendCommand("GDS" + a); }
void Connection::setDetectorSensitivity(const QByteArray &a) { sendCommand("SDS" + a); }
void Connection::startSetHold(const QByteArray &a) { sendCommand("SSH" + a); }
void Connection::clearSetHold(const QByteArray &a) { sendCommand("CSH" + a); }
void Connection::setTriggerFreeze(const QByteArray &a) { sendCommand("STF" + a); }
void Connection::clearTriggerFreeze(const QByteArray &a) { sendCommand("CTF" + a); }
void Connection::setDriveActuator(const QByteArray &a) { sendCommand("SDA" + a); }
void Connection::setStabilizationOn(const QByteArray &a) { sendCommand("SEA" + a); }
void Connection::setStabilizationOff(const QByteArray &a) { sendCommand("CEA" + a); }
void Connection::setMultiplex(const QByteArray &a) { sendCommand("SMD" + a); }
void Connection::clearMultiplex(const QByteArray &a) { sendCommand("CMD" + a); }
void Connection::sendSSE(const QByteArray &a) { sendCommand("SSE" + a); }
void Connection::getCommonDetector() { sendCommand("GCA;"); }
void Connection::getError() { sendCommand("GER;"); }
void Connection::readFram() { sendCommand("RFR" + Protocol::framArguments()); }
void Connection::setBaudRate(const QByteArray &a) { sendCommand("SBR" + a); }

void Connection::sendLabel(const QString &text)
{
    sendCommand("SLA" + Protocol::labelArguments(text));
}

// ------------------------------------------------------------ link thread

void Connection::sendMessage(QByteArray message, int answer)
{
    const bool stop = message == stopCommand;
    if (replyState.load(std::memory_order_acquire) == Awaited)
        return;
    if (streaming.load(std::memory_order_acquire) == 1 && !stop)
        return;
    const int commandState = streamCommandState.load(std::memory_order_acquire);
    QIODevice *dev = currentDevice();
    if (commandState == StartOutstanding || commandState == StopOutstanding || !dev || linkState() != Connected)
        return;
    // A reply reader further up this thread's stack (it processes events
    // while it waits) still reads for an earlier command.
    if (replyReaderActive)
        return;

    if (streaming.load(std::memory_order_acquire) == 0) {
        // The stop is exempt from the quiet wait: a controller left
        // streaming never goes quiet, and the stop reader keeps only the
        // trailing acknowledgement anyway.
        if (!stop && outOfStep.load(std::memory_order_acquire) && !waitForQuietLine(dev)) {
            qWarning().noquote() << "Line out of step, command not sent:" << message.left(3);
            return;
        }
        // Whatever is waiting now cannot be the reply to this command.
        clearInput();
    }

    answerLength = answer;
    writtenAt.store(now(), std::memory_order_relaxed);
    claimReplyBuffer();
    readDeadline = now() + timeout;
    reply.clear();
    // Stream bytes held for the next batch are messages sent before this
    // command: take them in first (a stop on firmware below 11 drops what
    // is read after it). Then the reply is read as it comes.
    if (streaming.load(std::memory_order_acquire) == 1)
        takeHeldStreamBytes();
    readEveryByte();
    dev->write(message);
    ++commandsWritten;

    if (isStreamStart(message))
        streamCommandState.store(StartOutstanding, std::memory_order_release);
    else if (stop)
        streamCommandState.store(StopOutstanding, std::memory_order_release);
    if (answerLength == 0)
        replyState.store(Idle, std::memory_order_release);
}

void Connection::claimReplyBuffer()
{
    // Idle or an uncollected reply: take the buffer over. While the caller
    // copies a reply (Taking) it is not ours; the copy takes microseconds.
    for (;;) {
        int state = replyState.load(std::memory_order_acquire);
        if (state == Taking) {
            QThread::yieldCurrentThread();
            continue;
        }
        if (replyState.compare_exchange_weak(state, Awaited, std::memory_order_acq_rel))
            return;
    }
}

bool Connection::waitForQuietLine(QIODevice *dev)
{
    // Drop everything that comes in until nothing has come for quietTime(),
    // without processing events: a command posted meanwhile must not be
    // written from in here. readyRead emitted by the wait finds the reader
    // busy and leaves the bytes to this loop.
    const bool readerWasRunning = readerRunning;
    readerRunning = true;
    const qint64 limit = now() + quietWaitLimit();
    qint64 lastByte = now();
    bool quiet = false;
    for (;;) {
        if (dev->bytesAvailable() > 0) {
            dev->readAll();
            lastByte = now();
        }
        if (now() - lastByte >= quietTime()) {
            quiet = true;
            break;
        }
        if (now() >= limit || !dev->isOpen())
            break;
        if (!dev->waitForReadyRead(5))
            QThread::msleep(1);
    }
    readerRunning = readerWasRunning;
    if (quiet)
        outOfStep.store(false, std::memory_order_release);
    return quiet;
}

// ------------------------------------------------------ user-interface side

bool Connection::waitForReply(QByteArray &out)
{
    out.clear();
    // Let the link thread catch up with commands still in its queue.
    waitUntilHandled();
    if (replyState.load(std::memory_order_acquire) == Idle)
        return false;
    if (replyState.load(std::memory_order_acquire) == Awaited) {
        // Measured from the write, so a command that waited in the link
        // thread's queue still gets its full reply time.
        replyDeadline = writtenAt.load(std::memory_order_relaxed) + 2 * timeout;
        while (replyState.load(std::memory_order_acquire) == Awaited && deviceOpen.load(std::memory_order_acquire)
               && now() < replyDeadline)
            QThread::msleep(1);
        int expected = Awaited;
        if (replyState.compare_exchange_strong(expected, Idle, std::memory_order_acq_rel)) {
            // Give up an outstanding start or stop alike, so the caller can
            // send the stop and carry on; a reply may still be on its way.
            outOfStep.store(true, std::memory_order_release);
            int start = StartOutstanding, stop = StopOutstanding;
            streamCommandState.compare_exchange_strong(start, NoStreamCommand, std::memory_order_acq_rel);
            streamCommandState.compare_exchange_strong(stop, NoStreamCommand, std::memory_order_acq_rel);
            return false;
        }
    }
    int ready = Ready;
    if (!replyState.compare_exchange_strong(ready, Taking, std::memory_order_acq_rel)) {
        replyState.store(Idle, std::memory_order_release);
        return false;
    }
    out = reply;
    replyState.store(Idle, std::memory_order_release);
    return true;
}

bool Connection::waitForThreadEnd(int &checksLeft)
{
    exit(0);
    QCoreApplication::processEvents();
    checksLeft = threadEndChecks;
    while (checksLeft > 0 && !wait(10))
        --checksLeft;
    const bool ended = !isRunning();
    if (ended)
        annotateAcquire(this); // pairs with threadBodyFinished()
    return ended;
}

bool Connection::disconnectLink()
{
    qInfo().noquote() << "Disconnecting";
    int checksLeft = 0;
    const bool ended = waitForThreadEnd(checksLeft);
    streaming.store(0, std::memory_order_release);
    replyState.store(Idle, std::memory_order_release);
    streamCommandState.store(NoStreamCommand, std::memory_order_release);
    qInfo().noquote() << "Finished disconnecting" << checksLeft;
    setLinkState(ended ? Disconnected : Failed);
    return ended;
}

void Connection::stopLinkThread()
{
    if (linkThreadStopped)
        return;
    linkThreadStopped = true;
    qInfo().noquote() << "Deleting connection";
    int checksLeft = 0;
    if (!waitForThreadEnd(checksLeft)) {
        // Destroying a running thread would abort the program; a link thread
        // stuck this long is ended by force instead.
        qWarning().noquote() << "Link thread did not stop; terminating it";
        terminate();
        wait();
    }
    qInfo().noquote() << "Finished deleting connection" << checksLeft;
}

// ------------------------------------------------- helpers for transports

void Connection::attachDevice(QIODevice *newDevice)
{
    // A device opened by this run has no reply of an earlier run's command
    // on its way: the line starts in step.
    outOfStep.store(false, std::memory_order_release);
    device.store(newDevice, std::memory_order_release);
    deviceOpen.store(newDevice && newDevice->isOpen(), std::memory_order_release);
}

void Connection::detachDevice()
{
    readEveryByte();
    delete batchTimer; // created in this (the link) thread
    batchTimer = nullptr;
    notifierDevice = nullptr;
    deviceNotifier = nullptr;
    directFd = -1;
    deviceOpen.store(false, std::memory_order_release);
    device.store(nullptr, std::memory_order_release);
}

void Connection::resynchronise(bool queryStatus)
{
    const unsigned before = resyncRuns.load(std::memory_order_acquire);
    bool posted = false;
    {
        QMutexLocker lock(&relayLock);
        annotateAcquire(&relayLock);
        posted = commandRelay && QMetaObject::invokeMethod(commandRelay, [this, queryStatus] { resyncInLinkThread(queryStatus); },
                                                      Qt::QueuedConnection);
        annotateRelease(&relayLock);
    }
    // The link thread works for at most a second after it has finished the
    // command in front of this one.
    const qint64 deadline = now() + 2 * timeout + 1000;
    while (posted && resyncRuns.load(std::memory_order_acquire) == before && isRunning() && now() < deadline)
        QThread::msleep(1);
}

void Connection::resyncInLinkThread(bool queryStatus)
{
    QIODevice *dev = currentDevice();
    if (!dev || linkState() != Connected) {
        resyncRuns.fetch_add(1, std::memory_order_release);
        return;
    }
    // This reads the input itself; the reader stays out meanwhile. Stream
    // bytes held for the next batch go back to the device first, so they
    // are dropped in order with the rest.
    readEveryByte();
    const bool readerWasRunning = readerRunning;
    readerRunning = true;
    bool query = false;
    if (queryStatus && streaming.load(std::memory_order_acquire) == 0) {
        outOfStep.store(false, std::memory_order_release); // the query is the way back into step
        const unsigned before = commandsWritten;
        sendMessage(QByteArrayLiteral("GSF;"), Protocol::answerLength("GSF"));
        query = commandsWritten != before; // not when another command's reply is awaited
    }
    // Drop input byte by byte until a whole status reply (0x00 ';' flags
    // ';') or an error answer (0x01 ';') has gone by.
    QByteArray window;
    bool found = false;
    QElapsedTimer timer;
    timer.start();
    while (!found && timer.elapsed() < 1000) {
        char c;
        if (dev->bytesAvailable() == 0 || !dev->getChar(&c)) {
            if (!dev->waitForReadyRead(5))
                QThread::msleep(1);
            continue;
        }
        window.append(c);
        if (window.size() > 4)
            window.remove(0, 1);
        if (window.size() == 4 && window.at(0) == '\0' && window.at(1) == ';' && window.at(3) == ';') {
            found = true;
        } else if (window.size() >= 2 && window.at(window.size() - 2) == '\x01' && window.endsWith(';')) {
            window = window.right(2);
            found = true;
        }
    }
    outOfStep.store(!found, std::memory_order_release);
    // What was found answers the status query; without one nothing does.
    if (query)
        deliverReply(found ? window : QByteArray());
    readerRunning = readerWasRunning;
    resyncRuns.fetch_add(1, std::memory_order_release);
}

void Connection::threadBodyFinished()
{
    annotateRelease(this);
}

void Connection::createTrigger()
{
    QMutexLocker lock(&relayLock);
    annotateAcquire(&relayLock);
    commandRelay = new CommandRelay(this);
    // Nothing is queued for the new relay: whatever an earlier run of the
    // thread left uncounted is settled, or every wait would run into its
    // deadline.
    handledCommands.store(postedCommands.load(std::memory_order_relaxed), std::memory_order_release);
    annotateRelease(&relayLock);
}

void Connection::destroyTrigger()
{
    CommandRelay *relay = nullptr;
    {
        QMutexLocker lock(&relayLock);
        annotateAcquire(&relayLock);
        relay = commandRelay;
        commandRelay = nullptr;
        annotateRelease(&relayLock);
    }
    delete relay; // discards commands still queued for it
    // Those are never handled; count them as done (no post can come in
    // between: the relay is gone).
    QMutexLocker lock(&relayLock);
    annotateAcquire(&relayLock);
    handledCommands.store(postedCommands.load(std::memory_order_relaxed), std::memory_order_release);
    annotateRelease(&relayLock);
}

void Connection::connectReader()
{
    if (QIODevice *dev = currentDevice())
        connect(dev, &QIODevice::readyRead, this, &Connection::saveReply,
                Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
}

void Connection::disconnectReader()
{
    // The thread bodies call this first once the loop has ended, before
    // they close the device: its descriptor must be out of the pump's hands
    // (closed, its number could be another link's next).
    takeBackFromPump();
    if (QIODevice *dev = currentDevice())
        disconnect(dev, &QIODevice::readyRead, this, &Connection::saveReply);
}
