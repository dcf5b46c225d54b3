#include "controller/Controller.h"

#include <QMetaObject>

Controller::Controller(std::unique_ptr<Connection> link, QObject *parent)
    : QObject(parent)
    , connection(std::move(link))
{
    qRegisterMetaType<Protocol::StatusFlags>();
    worker.setMaxThreadCount(1);
    worker.setExpiryTimeout(-1);
}

Controller::~Controller()
{
    shuttingDown.store(true, std::memory_order_release);
    cancel();
    worker.waitForDone();
    // The link's destructor ends its thread (the connection waits for it).
}

void Controller::announceBusy()
{
    // Delivered in the controller's thread with the state at delivery, so a
    // request queued meanwhile never leaves a stale "not busy" behind.
    QMetaObject::invokeMethod(this, [this] { emit busyChanged(isBusy()); }, Qt::QueuedConnection);
}

void Controller::requestEnded(bool counted)
{
    if (counted && busyCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
        announceBusy();
}

LinkSequences::CancelCheck Controller::cancelCheck() const
{
    const unsigned epoch = cancelEpoch.load(std::memory_order_acquire);
    return [this, epoch] {
        return cancelEpoch.load(std::memory_order_acquire) != epoch
               || shuttingDown.load(std::memory_order_acquire);
    };
}

QFuture<bool> Controller::open(int waitMs)
{
    return request([waitMs, cancelled = cancelCheck()](Connection &link) {
        return LinkSequences::open(link, waitMs, cancelled);
    });
}

QFuture<ControllerIdentity> Controller::identify(int stopAttempts)
{
    return request([stopAttempts, cancelled = cancelCheck()](Connection &link) {
        return LinkSequences::identify(link, stopAttempts, cancelled);
    });
}

QFuture<ControllerIdentity> Controller::openAndIdentify(int waitMs, int stopAttempts)
{
    return request([waitMs, stopAttempts, cancelled = cancelCheck()](Connection &link) {
        if (!LinkSequences::open(link, waitMs, cancelled) || cancelled())
            return ControllerIdentity();
        return LinkSequences::identify(link, stopAttempts, cancelled);
    });
}

QFuture<bool> Controller::startStream(int rate)
{
    return request([rate](Connection &link) { return LinkSequences::startStream(link, rate); });
}

QFuture<void> Controller::stopStream()
{
    return request([](Connection &link) { LinkSequences::stopStream(link); });
}

QFuture<Protocol::StatusFlags> Controller::pollStatus()
{
    if (pollOutstanding.exchange(true, std::memory_order_acq_rel))
        return lastPoll;
    lastPoll = enqueue<Protocol::StatusFlags>(
        [this](Connection &link) {
            const Protocol::StatusFlags flags = LinkSequences::readStatus(link);
            pollOutstanding.store(false, std::memory_order_release);
            emit statusRead(flags);
            return flags;
        },
        false);
    return lastPoll;
}

QFuture<LinkSequences::PausedOutcome> Controller::switchStabilization(int stage, bool on, int attempts)
{
    return request([this, stage, on, attempts](Connection &link) {
        const LinkSequences::PausedOutcome outcome = LinkSequences::switchStabilization(link, stage, on, attempts);
        if (!outcome.streamResumed)
            emit streamRestartFailed();
        return outcome;
    });
}

QFuture<LinkSequences::PausedOutcome> Controller::setMultiplex(int stage, bool on)
{
    return request([this, stage, on](Connection &link) {
        const LinkSequences::PausedOutcome outcome = LinkSequences::setMultiplex(link, stage, on);
        if (!outcome.streamResumed)
            emit streamRestartFailed();
        return outcome;
    });
}

QFuture<bool> Controller::sendLabel(const QString &label)
{
    return request([label](Connection &link) { return LinkSequences::sendLabel(link, label); });
}

QFuture<LinkSequences::SpeedOutcome> Controller::speedTest(int rate, int durationMs)
{
    return request([this, rate, durationMs](Connection &link) {
        samplesTaken.store(true, std::memory_order_release);
        const LinkSequences::SpeedOutcome outcome = LinkSequences::speedTest(link, rate, durationMs);
        samplesTaken.store(false, std::memory_order_release);
        if (!outcome.streamResumed)
            emit streamRestartFailed();
        return outcome;
    });
}

QFuture<ControllerIdentity> Controller::reconnect(int waitMs)
{
    return request([waitMs](Connection &link) { return LinkSequences::reconnect(link, waitMs); });
}

QFuture<bool> Controller::disconnectLink()
{
    return request([](Connection &link) {
        if (link.linkState() == Connection::Connected && link.isStreaming())
            LinkSequences::stopStream(link);
        return link.disconnectLink();
    });
}

void Controller::close()
{
    enqueue<void>(
        [this](Connection &link) {
            if (link.linkState() == Connection::Connected && link.isStreaming())
                LinkSequences::stopStream(link);
            if (link.isRunning())
                link.disconnectLink();
            QMetaObject::invokeMethod(this, &Controller::closed, Qt::QueuedConnection);
        },
        false);
}
