#include "link/Connection.h"

#include "link/StreamMessage.h"
#include "link/ThreadAnnotations.h"
#include "link/TriggerObject.h"
#include "link/measureStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMetaObject>
#include <QMutexLocker>

namespace {

constexpr int storeCapacity = 1040;
constexpr int threadEndChecks = 1500; // of 10 ms each

const QByteArray stopCommand = QByteArrayLiteral("CLS;");

bool isStreamStart(const QByteArray &message)
{
    return message.size() >= 3
           && (message.startsWith("SLS") || message.startsWith("SGS") || message.startsWith("SPS"));
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

Connection::Connection(QObject *parent) : QThread(parent), store(new measureStore(storeCapacity))
{
}

Connection::~Connection()
{
    stopLinkThread();
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

int Connection::storedSamples() const
{
    return store->count();
}

qint64 Connection::overwrittenSamples() const
{
    return store->overwritten();
}

// ---------------------------------------------------------------- posting

bool Connection::post(const QByteArray &message, int answer)
{
    QMutexLocker lock(&triggerLock);
    annotateAcquire(&triggerLock);
    const bool posted = trigger
                        && QMetaObject::invokeMethod(trigger, "sendMessage", Qt::QueuedConnection,
                                                     Q_ARG(QByteArray, message), Q_ARG(int, answer));
    if (posted)
        postedCommands.fetch_add(1, std::memory_order_relaxed);
    annotateRelease(&triggerLock);
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

void Connection::clearLiveStream()
{
    // The caller is held until the link thread has written the stop command
    // (or dropped it), but never longer than the reply wait: a link thread
    // that is just ending cannot hold the caller.
    if (post(stopCommand, 2))
        waitUntilHandled();
    QThread::msleep(1);
}

void Connection::startStream(const QByteArray &arguments)
{
    store->clear();
    if (isVariantM()) {
        postMessage("SGS" + arguments, 25);
    } else if (isTriggerMode()) {
        // Trigger mode has no rate: drop the two rate bytes.
        QByteArray withoutRate = arguments;
        withoutRate.remove(2, 2);
        postMessage("SPS" + withoutRate, 2);
    } else {
        postMessage("SLS" + arguments, 25);
    }
}

void Connection::getStreamSample() { postMessage("S1S;", 25); }
void Connection::getStatusFlags() { postMessage("GSF;", 4); }
void Connection::getControllerId() { postMessage("GID;", 50); }
void Connection::getActiveSignal() { postMessage("GAS;", 5); }
void Connection::getIntensity(const QByteArray &a) { postMessage("GIN" + a, 5); }
void Connection::getAdjustIn(const QByteArray &a) { postMessage("GAI" + a, 5); }
void Connection::setAdjustIn(const QByteArray &a) { postMessage("SAI" + a, 2); }
void Connection::getPFactor(const QByteArray &a) { postMessage("GPF" + a, 5); }
void Connection::setPFactor(const QByteArray &a) { postMessage("SPF" + a, 2); }
void Connection::getDetectorSensitivity(const QByteArray &a) { postMessage("GDS" + a, 5); }
void Connection::setDetectorSensitivity(const QByteArray &a) { postMessage("SDS" + a, 2); }
void Connection::startSetHold(const QByteArray &a) { postMessage("SSH" + a, 2); }
void Connection::clearSetHold(const QByteArray &a) { postMessage("CSH" + a, 2); }
void Connection::setTriggerFreeze(const QByteArray &a) { postMessage("STF" + a, 5); }
void Connection::clearTriggerFreeze(const QByteArray &a) { postMessage("CTF" + a, 2); }
void Connection::setDriveActuator(const QByteArray &a) { postMessage("SDA" + a, 2); }
void Connection::setStabilizationOn(const QByteArray &a) { postMessage("SEA" + a, 2); }
void Connection::setStabilizationOff(const QByteArray &a) { postMessage("CEA" + a, 2); }
void Connection::setMultiplex(const QByteArray &a) { postMessage("SMD" + a, 2); }
void Connection::clearMultiplex(const QByteArray &a) { postMessage("CMD" + a, 2); }
void Connection::sendSSE(const QByteArray &a) { postMessage("SSE" + a, 2); }
void Connection::getCommonDetector() { postMessage("GCA;", 11); }
void Connection::getError() { postMessage("GER;", 7); }
void Connection::readFram() { postMessage(QByteArray("RFR\x00\x00\xFF;", 7), 258); }
void Connection::setBaudRate(const QByteArray &a) { postMessage("SBR" + a, 2); }

void Connection::sendLabel(const QString &text)
{
    QByteArray bytes = text.toLocal8Bit().left(25);
    bytes.append(QByteArray(25 - bytes.size(), ' '));
    postMessage("SLA" + bytes + ';', 2);
}

// ------------------------------------------------------------ link thread

void Connection::sendMessage(QByteArray message, int answer)
{
    if (replyState.load(std::memory_order_acquire) == Awaited)
        return;
    if (streaming.load(std::memory_order_acquire) == 1 && message != stopCommand)
        return;
    const int commandState = streamCommandState.load(std::memory_order_acquire);
    QIODevice *dev = currentDevice();
    if (commandState == StartOutstanding || commandState == StopOutstanding || !dev || linkState() != Connected)
        return;

    answerLength = answer;
    replyState.store(Awaited, std::memory_order_release);
    readDeadline = now() + timeout;
    reply.clear();
    dev->write(message);

    if (isStreamStart(message))
        streamCommandState.store(StartOutstanding, std::memory_order_release);
    else if (message == stopCommand)
        streamCommandState.store(StopOutstanding, std::memory_order_release);
    if (answerLength == 0)
        replyState.store(Idle, std::memory_order_release);
}

void Connection::publishReply()
{
    // Only a caller that is still waiting gets the reply. When waitForReply
    // gave up (state back to Idle), a late reply is dropped here instead of
    // being taken for the answer to the next command.
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
    readerRunning = true;
    if (streaming.load(std::memory_order_acquire) == 0) {
        readReply(dev);
        // The start reply may arrive together with the first messages.
        if (streaming.load(std::memory_order_acquire) != 0 && dev->bytesAvailable() > 0)
            readStream(dev);
    } else {
        readStream(dev);
    }
    readerRunning = false;
}

void Connection::readReply(QIODevice *dev)
{
    if (streamCommandState.load(std::memory_order_acquire) == StopOutstanding) {
        readStopReply(dev);
        return;
    }
    reply.clear();
    readDeadline = now() + timeout;
    waitForBytes(dev, answerLength);
    const qint64 available = dev->bytesAvailable();
    const bool startOutstanding = streamCommandState.load(std::memory_order_acquire) == StartOutstanding;
    if (available >= answerLength) {
        reply = dev->read(answerLength);
        // A good start reply is the first stream message; it is not stored.
        if (startOutstanding && isGoodReply(reply))
            streaming.store(1, std::memory_order_release);
    } else if (available == 2) {
        reply = dev->read(2); // a short error answer
    } else {
        dev->readAll();
        reply.clear();
    }
    if (startOutstanding) {
        int expected = StartOutstanding;
        streamCommandState.compare_exchange_strong(expected, NoStreamCommand, std::memory_order_acq_rel);
    }
    publishReply();
}

void Connection::readStopReply(QIODevice *dev)
{
    // The controller may still be sending stream messages: wait the whole
    // time, then keep only the trailing confirmation.
    qDebug().noquote() << "Saving reply";
    const qint64 until = now() + timeout * 3 / 2;
    while (now() < until)
        processAndSleep();
    qDebug().noquote() << "Finished saving reply";
    const QByteArray received = dev->readAll();
    reply.clear();
    if (received.size() > 1 && received.endsWith(';') && received.at(received.size() - 2) == '\0') {
        reply = received.right(2);
        streaming.store(0, std::memory_order_release);
    }
    streamCommandState.store(NoStreamCommand, std::memory_order_release);
    publishReply();
}

bool Connection::stopPendingOnOldFirmware() const
{
    return firmwareVersion() < 11 && streamCommandState.load(std::memory_order_acquire) == StopOutstanding;
}

void Connection::readStream(QIODevice *dev)
{
    const bool withFlags = firmwareVersion() >= 11;
    const bool skipIgnored = withFlags && isVariantM();
    char message[StreamMessage::size];
    StreamSample sample;

    readDeadline = now() + timeout;
    if (dev->bytesAvailable() > 0) {
        for (;;) {
            if (now() > readDeadline || stopPendingOnOldFirmware())
                break;
            readDeadline = now() + timeout;
            waitForBytes(dev, StreamMessage::size);
            if (stopPendingOnOldFirmware())
                break;
            if (dev->bytesAvailable() < StreamMessage::size)
                return; // the rest arrives with the next readyRead

            while (dev->bytesAvailable() >= StreamMessage::size) {
                const auto arrival = static_cast<int32_t>(QDateTime::currentMSecsSinceEpoch() & 0xFFFFFFFF);
                if (stopPendingOnOldFirmware())
                    break;
                dev->read(message, StreamMessage::size);
                int skipped = 0;
                while (dev->bytesAvailable() > 0 && !StreamMessage::isValid(message)) {
                    memmove(message, message + 1, StreamMessage::size - 1);
                    dev->getChar(&message[StreamMessage::size - 1]);
                    ++skipped;
                }
                if (skipped > 0) {
                    resyncCount.fetch_add(1, std::memory_order_relaxed);
                    qDebug().noquote() << "Incomplete stream message. Bytes skipped:" << skipped;
                }
                if (!StreamMessage::isValid(message))
                    return;
                StreamMessage::decode(message, withFlags, arrival, sample);
                if (withFlags && StreamMessage::isLastMessage(message)) {
                    if (!(skipIgnored && StreamMessage::isIgnoredSample(message)))
                        store->push(sample);
                    finishStream(dev);
                    return;
                }
                if (skipIgnored && StreamMessage::isIgnoredSample(message))
                    continue;
                store->push(sample);
            }
            readDeadline = now() + timeout;
            if (dev->bytesAvailable() == 0)
                break;
        }
    }
    if (stopPendingOnOldFirmware())
        readStopReply(dev);
}

void Connection::finishStream(QIODevice *dev)
{
    streaming.store(0, std::memory_order_release);
    if (streamCommandState.load(std::memory_order_acquire) != StopOutstanding)
        return;
    readDeadline = now() + timeout;
    reply = waitForBytes(dev, 2) ? dev->read(2) : QByteArray();
    streamCommandState.store(NoStreamCommand, std::memory_order_release);
    publishReply();
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
        replyDeadline = now() + 2 * timeout;
        while (replyState.load(std::memory_order_acquire) == Awaited && deviceOpen.load(std::memory_order_acquire)
               && now() < replyDeadline)
            QThread::msleep(1);
        int expected = Awaited;
        if (replyState.compare_exchange_strong(expected, Idle, std::memory_order_acq_rel)) {
            int stop = StopOutstanding;
            streamCommandState.compare_exchange_strong(stop, NoStreamCommand, std::memory_order_acq_rel);
            return false;
        }
    }
    if (replyState.load(std::memory_order_acquire) != Ready) {
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
    device.store(newDevice, std::memory_order_release);
    deviceOpen.store(newDevice && newDevice->isOpen(), std::memory_order_release);
}

void Connection::detachDevice()
{
    deviceOpen.store(false, std::memory_order_release);
    device.store(nullptr, std::memory_order_release);
}

void Connection::dropInputUntilStatusReply()
{
    QIODevice *dev = currentDevice();
    if (!dev)
        return;
    QByteArray window;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 1000) {
        char c;
        if (dev->bytesAvailable() == 0 || !dev->getChar(&c)) {
            processAndSleep();
            continue;
        }
        window.append(c);
        if (window.size() > 4)
            window.remove(0, window.size() - 4);
        const bool status = window.size() == 4 && window.at(0) == '\0' && window.at(1) == ';' && window.at(3) == ';';
        const bool error = window.size() >= 2 && window.at(window.size() - 2) == '\x01' && window.endsWith(';');
        if (status || error)
            return;
    }
}

void Connection::threadBodyFinished()
{
    annotateRelease(this);
}

void Connection::createTrigger()
{
    QMutexLocker lock(&triggerLock);
    annotateAcquire(&triggerLock);
    trigger = new TriggerObject(this);
    annotateRelease(&triggerLock);
}

void Connection::destroyTrigger()
{
    TriggerObject *relay = nullptr;
    {
        QMutexLocker lock(&triggerLock);
        annotateAcquire(&triggerLock);
        relay = trigger;
        trigger = nullptr;
        annotateRelease(&triggerLock);
    }
    delete relay; // discards commands still queued for it
}

void Connection::connectReader()
{
    if (QIODevice *dev = currentDevice())
        connect(dev, &QIODevice::readyRead, this, &Connection::saveReply,
                Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
}

void Connection::disconnectReader()
{
    if (QIODevice *dev = currentDevice())
        disconnect(dev, &QIODevice::readyRead, this, &Connection::saveReply);
}
