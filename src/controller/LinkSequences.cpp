#include "controller/LinkSequences.h"

#include "link/Connection.h"
#include "link/StreamPause.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QThread>

namespace LinkSequences {

bool isCancelled(const CancelCheck &cancelled)
{
    return cancelled && cancelled();
}

QByteArray awaitReply(Connection &link)
{
    QByteArray reply;
    link.waitForReply(reply);
    return reply;
}

namespace {

// Firmware below 11 shows the effect of a command in its flags only after
// 100 ms.
constexpr int oldFirmwareSettleMs = 100;
constexpr int flagsFirmware = 11;

} // namespace

QByteArray ask(Connection &link, const QByteArray &command)
{
    link.postMessage(command, Protocol::answerLength(command));
    return awaitReply(link);
}

bool waitForConnected(Connection &link, int milliseconds, const CancelCheck &cancelled)
{
    QElapsedTimer timer;
    timer.start();
    while (link.linkState() != Connection::Connected && timer.elapsed() < milliseconds) {
        if (link.isFinished() || isCancelled(cancelled))
            break;
        QThread::msleep(1);
    }
    return link.linkState() == Connection::Connected;
}

bool open(Connection &link, int milliseconds, const CancelCheck &cancelled)
{
    if (!link.isRunning())
        link.start(QThread::InheritPriority);
    return waitForConnected(link, milliseconds, cancelled);
}

ControllerIdentity identify(Connection &link, int stopAttempts, const CancelCheck &cancelled)
{
    for (int i = 0; i < stopAttempts; ++i) {
        if (isCancelled(cancelled))
            return ControllerIdentity();
        link.clearLiveStream();
        awaitReply(link);
    }
    if (isCancelled(cancelled))
        return ControllerIdentity();
    link.getControllerId();
    const ControllerIdentity identity = parseIdentification(awaitReply(link));
    applyIdentification(link, identity);
    return identity;
}

void stopStream(Connection &link)
{
    stopStreamReply(link);
}

QByteArray stopStreamReply(Connection &link)
{
    link.clearLiveStream();
    const QByteArray reply = awaitReply(link);
    if (Protocol::isGoodReply(reply))
        return reply;
    link.clearLiveStream();
    return awaitReply(link);
}

bool startStream(Connection &link, int rate)
{
    const QByteArray reply = startStreamReply(link, rate);
    return !reply.isEmpty() && reply.at(0) != '\x01';
}

QByteArray startStreamReply(Connection &link, int rate)
{
    link.setSamplingRate(rate);
    link.startStream(Protocol::rateArguments(rate));
    return awaitReply(link);
}

Protocol::StatusFlags readStatus(Connection &link)
{
    link.getStatusFlags();
    return Protocol::statusFromReply(awaitReply(link));
}

bool sendLabel(Connection &link, const QString &label)
{
    link.setLabel(label);
    link.sendLabel(label);
    return Protocol::isGoodReply(awaitReply(link));
}

PausedOutcome paused(Connection &link, const std::function<QByteArray()> &exchange, const BeforeResume &beforeResume)
{
    PausedOutcome outcome;
    StreamPause pause(link);
    pause.pause();
    outcome.reply = exchange();
    outcome.accepted = Protocol::isGoodReply(outcome.reply);
    if (link.firmwareVersion() < flagsFirmware) {
        QThread::msleep(oldFirmwareSettleMs);
        outcome.status = readStatus(link);
    }
    if (beforeResume)
        beforeResume();
    outcome.streamResumed = pause.resume();
    return outcome;
}

PausedOutcome switchStabilization(Connection &link, int stage, bool on, int attempts, const BeforeResume &beforeResume)
{
    return paused(link, [&] {
        QByteArray reply;
        for (int attempt = 0; attempt < attempts; ++attempt) {
            if (on)
                link.setStabilizationOn(Protocol::stageArgument(stage));
            else
                link.setStabilizationOff(Protocol::stageArgument(stage));
            reply = awaitReply(link);
            if (Protocol::isGoodReply(reply))
                break;
        }
        return reply;
    }, beforeResume);
}

PausedOutcome setMultiplex(Connection &link, int stage, bool on)
{
    PausedOutcome outcome = paused(link, [&] {
        if (on)
            link.setMultiplex(Protocol::stageArgument(stage));
        else
            link.clearMultiplex(Protocol::stageArgument(stage));
        return awaitReply(link);
    });
    outcome.accepted = !outcome.reply.isEmpty() && outcome.reply.at(0) == '\0';
    return outcome;
}

SpeedOutcome speedTest(Connection &link, int rate, int durationMs)
{
    SpeedOutcome outcome;
    StreamPause pause(link);
    pause.pause();
    outcome.result = LinkSpeedTest::run(link, rate, durationMs);
    outcome.streamResumed = pause.resume();
    return outcome;
}

ControllerIdentity reconnect(Connection &link, int waitMs)
{
    qInfo() << "Reconnecting";
    if (link.isRunning())
        link.disconnectLink();
    link.start(QThread::InheritPriority);
    if (!waitForConnected(link, waitMs)) {
        qInfo() << "Reconnecting failed";
        return ControllerIdentity();
    }
    link.clearLiveStream();
    awaitReply(link);
    link.clearLiveStream();
    if (awaitReply(link).isEmpty()) {
        link.clearLiveStream();
        awaitReply(link);
    }
    link.getControllerId();
    const ControllerIdentity identity = parseIdentification(awaitReply(link));
    if (!applyIdentification(link, identity)) {
        link.disconnectLink();
        qInfo() << "Reconnecting failed";
        return identity;
    }
    qInfo() << "Successfully reconnected";
    return identity;
}

} // namespace LinkSequences
