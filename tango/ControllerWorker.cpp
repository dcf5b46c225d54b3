#include "ControllerWorker.h"

#include "controller/Controller.h"
#include "controller/RemoteSequences.h"
#include "detectors/StageDetectors.h"
#include "link/Connection.h"
#include "link/Protocol.h"
#include "link/SerialPort.h"
#include "link/TcpClient.h"
#include "setup/ConnectionSettings.h"
#include "setup/Settings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

// Time the worker sleeps between looks at the link: short enough that the
// store (1039 samples, two seconds at 500 Hz) never fills, long enough to
// cost next to nothing.
constexpr unsigned long loopSleepMs = 5;

// The transport gives up on its own after its base time-out; this limit
// only guards against a link thread that never reports.
constexpr int connectWaitMs = 3000;

constexpr double minEventRate = 0.1;
constexpr double maxEventRate = 100;

// Ends the link thread as the next request, without first stopping a
// stream: a link is dropped because its controller fell silent, and
// shutting down stops the stream itself beforehand.
void endLink(Controller &controller)
{
    controller.request([](Connection &link) { return link.disconnectLink(); }).waitForFinished();
}

} // namespace

ControllerSnapshot::ControllerSnapshot() : headroom{NAN, NAN} {}

ControllerWorker::ControllerWorker(const ControllerOptions &options, QObject *parent)
    : QThread(parent), opts(options), statistics(options.statisticsWindow, options.rawSamples)
{
    rate = std::clamp(opts.samplingRate, 1, 500);
    eventRate = std::clamp(opts.eventRate, minEventRate, maxEventRate);
    shown.samplingRate = rate;
    shown.eventRate = eventRate;
    shown.statusText = QString("Connecting to %1").arg(endpointText());
    wantStreaming = opts.autoStart;
}

ControllerWorker::~ControllerWorker()
{
    shutdown();
}

Connection &ControllerWorker::link() const
{
    return controller->link();
}

QString ControllerWorker::endpointText() const
{
    return opts.tcp ? QString("%1:%2").arg(opts.address).arg(opts.portOrBaud)
                    : QString("%1 at %2 baud").arg(opts.address).arg(opts.portOrBaud);
}

void ControllerWorker::shutdown()
{
    stopRequested = true;
    wait();
}

RequestResult ControllerWorker::request(Action action, int stage, int value, int waitMs)
{
    Pending p{action, stage, value, std::make_shared<RequestResult>(), std::make_shared<bool>(false)};
    QMutexLocker locker(&lock);
    queue.push_back(p);
    QDeadlineTimer deadline(waitMs);
    while (!*p.done) {
        if (!requestDone.wait(&lock, deadline))
            break;
    }
    if (*p.done)
        return *p.result;
    return {false, "The controller has not answered yet; the command is still being carried out"};
}

void ControllerWorker::finish(const Pending &p, const RequestResult &r)
{
    QMutexLocker locker(&lock);
    *p.result = r;
    *p.done = true;
    requestDone.wakeAll();
}

bool ControllerWorker::setSamplingRate(int hz, bool &restartNeeded, QString &error)
{
    restartNeeded = false;
    if (hz < 1 || hz > 500) {
        error = QString("Sampling rate %1 Hz is outside 1 to 500 Hz").arg(hz);
        return false;
    }
    QMutexLocker locker(&lock);
    rate = hz;
    shown.samplingRate = hz;
    restartNeeded = shown.link == ControllerSnapshot::Link::Streaming;
    return true;
}

bool ControllerWorker::setEventRate(double perSecond, QString &error)
{
    if (!(perSecond >= minEventRate && perSecond <= maxEventRate)) {
        error = QString("Event rate %1 per second is outside %2 to %3").arg(perSecond).arg(minEventRate).arg(maxEventRate);
        return false;
    }
    QMutexLocker locker(&lock);
    eventRate = perSecond;
    shown.eventRate = perSecond;
    return true;
}

ControllerSnapshot ControllerWorker::snapshot() const
{
    QMutexLocker locker(&lock);
    return shown;
}

std::vector<StreamSample> ControllerWorker::rawSamples() const
{
    QMutexLocker locker(&lock);
    return statistics.rawSamples();
}

void ControllerWorker::setLinkStatus(ControllerSnapshot::Link state, const QString &text)
{
    ControllerSnapshot copy;
    bool changed = false;
    {
        QMutexLocker locker(&lock);
        changed = shown.link != state;
        shown.link = state;
        shown.statusText = text;
        copy = shown;
    }
    if (changed && periodHandler)
        periodHandler(copy, false);
}

void ControllerWorker::announceThreads(Controller &c, bool working)
{
    if (!threadHandler)
        return;
    // The link's own thread, and the one its requests run on; withdrawn as
    // they were announced (a closed link may no longer run requests).
    if (working) {
        linkThreads[&c] = {&c.link(), c.request([](Connection &) {
                                           return static_cast<const QThread *>(QThread::currentThread());
                                       }).result()};
    }
    for (const QThread *thread : linkThreads[&c])
        if (thread && thread != this)
            threadHandler(thread, working);
    if (!working)
        linkThreads.erase(&c);
}

void ControllerWorker::run()
{
    if (threadHandler)
        threadHandler(this, true);
    nextPeriod = Connection::now();
    while (!stopRequested) {
        const qint64 now = Connection::now();

        Pending next{};
        bool have = false;
        {
            QMutexLocker locker(&lock);
            if (!queue.empty()) {
                next = queue.front();
                queue.pop_front();
                have = true;
            }
        }
        if (have)
            finish(next, carryOut(next));

        if (!controller) {
            if (now >= nextAttempt)
                connectLink();
        } else if (!link().isRunning() || !controller->isConnected()) {
            dropLink("Controller disconnected");
        } else {
            drainSamples(now);
            const bool streaming = link().isStreaming();
            if (snapshot().link == ControllerSnapshot::Link::Streaming && !streaming) {
                wantStreaming = false;
                setLinkStatus(ControllerSnapshot::Link::Idle, "Stream ended by the controller");
            }
            // A stream that falls silent for three sample periods, and at
            // least 0.8 s, has lost its controller: FAULT within a second at
            // every rate from 4 Hz up.
            const qint64 silence = std::max<qint64>(800, 3000 / std::max(streamRate, 1));
            if (streaming && now - lastSampleAt > silence) {
                dropLink(QString("No stream data for %1 ms").arg(now - lastSampleAt));
            } else if (streaming && streamRate != rate) {
                // A rate written while a start was still under way.
                restartAtRate();
            } else if (!streaming && now >= nextStatusPoll) {
                pollStatus();
                nextStatusPoll = Connection::now() + 1000;
            }
        }

        if (Connection::now() >= nextPeriod) {
            publishPeriod();
            const qint64 period = qint64(1000.0 / eventRate.load());
            nextPeriod += period;
            if (nextPeriod < Connection::now())
                nextPeriod = Connection::now() + period;
        }
        // The controller announces its busy state to the thread it lives
        // in, this one, which runs no event loop: deliver (and free) those
        // announcements, or they would pile up as long as the link runs.
        QCoreApplication::sendPostedEvents();
        msleep(loopSleepMs);
    }
    if (controller) {
        if (link().isStreaming())
            stopStream();
        endLink(*controller);
        announceThreads(*controller, false);
        controller.reset();
    }
    if (threadHandler)
        threadHandler(this, false);
    // Callers still waiting give up on their own deadline.
}

void ControllerWorker::connectLink()
{
    // A link that failed stays in FAULT while it is tried again; a first
    // connection or a requested reconnection keeps its own text.
    const ControllerSnapshot before = snapshot();
    if (before.link != ControllerSnapshot::Link::Fault && before.link != ControllerSnapshot::Link::Connecting)
        setLinkStatus(ControllerSnapshot::Link::Connecting, "Connecting to " + endpointText());

    std::unique_ptr<Connection> connection;
    if (opts.tcp)
        connection.reset(new TcpClient);
    else
        connection.reset(new SerialPort);
    if (!connection->initialize(opts.address, opts.portOrBaud)) {
        nextAttempt = Connection::now() + opts.reconnectIntervalMs;
        setLinkStatus(ControllerSnapshot::Link::Fault, "Address not accepted: " + endpointText()
                          + QString("; next attempt in %1 s").arg(opts.reconnectIntervalMs / 1000.0));
        return;
    }
    auto candidate = std::make_unique<Controller>(std::move(connection));
    announceThreads(*candidate, true);
    auto fail = [&](const QString &reason) {
        if (candidate->link().isRunning())
            endLink(*candidate);
        announceThreads(*candidate, false);
        candidate.reset();
        nextAttempt = Connection::now() + opts.reconnectIntervalMs;
        setLinkStatus(ControllerSnapshot::Link::Fault,
                      reason + QString("; next attempt in %1 s").arg(opts.reconnectIntervalMs / 1000.0));
    };
    const bool opened = candidate
                            ->request([this](Connection &l) {
                                return LinkSequences::open(l, connectWaitMs, [this] { return bool(stopRequested); });
                            })
                            .result();
    if (!opened || !candidate->link().isRunning()) {
        fail("Cannot connect to " + endpointText());
        return;
    }
    const ControllerIdentity identity = candidate->identify(2).result();
    if (!identity.valid) {
        fail("System identification failed");
        return;
    }
    if (!opts.label.isEmpty())
        candidate->sendLabel(opts.label).result();

    // Detector settings stored for this controller, else the defaults.
    Settings settings;
    ConnectionSettings record;
    record.id = identity.controllerId;
    StageDetectors models;
    if (settings.loadFile(opts.setupFile) && settings.restoreDetectorSettings(record))
        models = StageDetectors(record.model[0], record.beamDiameter[0], record.calculation[0],
                                record.model[1], record.beamDiameter[1], record.calculation[1],
                                record.pulsedLaser);

    controller = std::move(candidate);
    {
        QMutexLocker locker(&lock);
        statistics.setDetectors(models);
        forgetHeadroom();
        shown.controllerId = identity.controllerId;
        shown.firmwareVersion = link().firmwareVersion();
        for (int s = 0; s < 2; ++s)
            shown.unit[s] = statistics.unit(s);
    }
    qInfo().noquote() << "Connected to" << endpointText() << "ID" << identity.controllerId;
    readPFactors();
    pollStatus();
    nextStatusPoll = Connection::now() + 1000;
    setLinkStatus(ControllerSnapshot::Link::Idle, "Connected to " + endpointText());
    if (wantStreaming)
        startStream(rate);
}

void ControllerWorker::closeLink()
{
    if (!controller)
        return;
    {
        QMutexLocker locker(&lock);
        lostEarlier += link().droppedSamplesTotal();
        forgetHeadroom();
    }
    endLink(*controller);
    announceThreads(*controller, false);
    controller.reset();
}

void ControllerWorker::dropLink(const QString &reason)
{
    closeLink();
    qWarning().noquote() << "Link to" << endpointText() << "lost:" << reason;
    nextAttempt = Connection::now() + opts.reconnectIntervalMs;
    setLinkStatus(ControllerSnapshot::Link::Fault,
                  reason + QString("; reconnecting every %1 s").arg(opts.reconnectIntervalMs / 1000.0));
}

void ControllerWorker::drainSamples(qint64 now)
{
    StreamSample sample;
    qint64 taken = 0;
    QMutexLocker locker(&lock);
    while (link().takeSample(sample)) {
        statistics.add(sample);
        ++taken;
    }
    if (taken) {
        lastSampleAt = now;
        shown.received += taken;
    }
    shown.lost = lostEarlier + link().droppedSamplesTotal();
}

void ControllerWorker::pollStatus()
{
    const RemoteSequences::Answer answer = controller->request(RemoteSequences::readFlags).result();
    const Protocol::StatusFlags flags = Protocol::statusFromReply(answer.reply);
    if (answer.complete && flags.valid) {
        QMutexLocker locker(&lock);
        for (int s = 0; s < 2; ++s) {
            shown.stabOn[s] = flags.stabilizationOn[s];
            shown.active[s] = flags.active[s];
        }
        missedPolls = 0;
    } else if (answer.reply.isEmpty() && ++missedPolls >= 2) {
        missedPolls = 0;
        dropLink("No answer from the controller");
    }
}

void ControllerWorker::readPFactors()
{
    const QList<RemoteSequences::Answer> answers = controller
                                                       ->request([](Connection &l) {
                                                           return QList<RemoteSequences::Answer>{
                                                               RemoteSequences::readPFactor(l, 1),
                                                               RemoteSequences::readPFactor(l, 2)};
                                                       })
                                                       .result();
    QMutexLocker locker(&lock);
    for (int s = 0; s < 2; ++s)
        if (answers.at(s).complete)
            shown.pFactor[s] = Protocol::replyValue(answers.at(s).reply);
}

void ControllerWorker::publishPeriod()
{
    ControllerSnapshot copy;
    bool hadSamples = false;
    {
        QMutexLocker locker(&lock);
        const PeriodMeans means = statistics.takePeriod();
        hadSamples = means.samples > 0;
        if (hadSamples) {
            shown.last = means;
            judgeHeadroom(means, Connection::now());
            // Stream flags are decoded from firmware 11 on; older firmware
            // leaves the flags to the status poll.
            if (shown.firmwareVersion >= 11) {
                for (int s = 0; s < 2; ++s) {
                    shown.stabOn[s] = means.stabOn[s];
                    shown.active[s] = means.active[s];
                }
            }
        }
        for (int s = 0; s < 2; ++s)
            shown.stats[s] = statistics.stageStatistics(s);
        copy = shown;
    }
    if (periodHandler && hadSamples)
        periodHandler(copy, true);
}

void ControllerWorker::judgeHeadroom(const PeriodMeans &means, qint64 now)
{
    const double volts[4] = {means.rangeX[0], means.rangeY[0], means.rangeX[1], means.rangeY[1]};
    if (!headroom.offer(now, volts))
        return;
    QStringList reasons;
    for (int s = 0; s < 2; ++s) {
        shown.headroom[s] = std::min(headroom.axis(2 * s).distance, headroom.axis(2 * s + 1).distance);
        shown.headroomWarning[s] = headroom.isWarning(2 * s) || headroom.isWarning(2 * s + 1);
    }
    for (int b = 0; b < 4; ++b) {
        if (headroom.isWarning(b))
            reasons << QString("Piezo %1 at %2 V: %3")
                           .arg(HeadroomTracker::axisName(b))
                           .arg(headroom.axis(b).voltage, 0, 'f', 2)
                           .arg(headroom.reason(b));
    }
    shown.headroomText = reasons.join('\n');
}

void ControllerWorker::forgetHeadroom()
{
    headroom.reset();
    for (int s = 0; s < 2; ++s) {
        shown.headroom[s] = NAN;
        shown.headroomWarning[s] = false;
    }
    shown.headroomText.clear();
}

RequestResult ControllerWorker::carryOut(const Pending &p)
{
    if (p.action == Action::Reconnect) {
        // Not a fault: the link is closed on purpose and opened at once;
        // the state says so until the controller has been identified.
        qInfo().noquote() << "Reconnecting to" << endpointText();
        closeLink();
        setLinkStatus(ControllerSnapshot::Link::Connecting, "Reconnecting to " + endpointText());
        nextAttempt = 0;
        return {true, QString()};
    }
    if (p.action == Action::SetSamplingRate) {
        bool restart = false;
        QString error;
        if (!setSamplingRate(p.value, restart, error))
            return {false, error};
        return controller ? restartAtRate() : RequestResult{true, QString()};
    }
    if (p.action == Action::Stop && !controller) {
        wantStreaming = false;
        return {true, QString()};
    }
    if (!controller)
        return {false, "Not connected: " + snapshot().statusText};

    switch (p.action) {
    case Action::Start:
        return startStream(rate);
    case Action::Stop:
        return stopStream();
    default:
        return stageCommand(p.action, p.stage, p.value);
    }
}

RequestResult ControllerWorker::restartAtRate()
{
    if (!link().isStreaming() || streamRate == rate)
        return {true, QString()};
    const RequestResult stopped = stopStream();
    if (!stopped.ok)
        return stopped;
    return startStream(rate);
}

RequestResult ControllerWorker::startStream(int startRate)
{
    if (link().isStreaming())
        return {true, QString()};
    drainSamples(Connection::now());
    streamRate = startRate;
    controller->startStream(startRate).result();
    if (!link().isStreaming()) {
        setLinkStatus(ControllerSnapshot::Link::Idle, "Streaming error has occurred.");
        return {false, "Streaming error has occurred."};
    }
    wantStreaming = true;
    lastSampleAt = Connection::now();
    setLinkStatus(ControllerSnapshot::Link::Streaming,
                  QString("Streaming at %1 Hz from %2").arg(startRate).arg(endpointText()));
    return {true, QString()};
}

RequestResult ControllerWorker::stopStream()
{
    wantStreaming = false;
    if (!link().isStreaming())
        return {true, QString()};
    controller->stopStream().waitForFinished();
    drainSamples(Connection::now());
    if (link().isStreaming())
        return {false, "The stream could not be stopped"};
    setLinkStatus(ControllerSnapshot::Link::Idle, "Connected to " + endpointText());
    return {true, QString()};
}

RequestResult ControllerWorker::stageCommand(Action action, int stage, int value)
{
    if (stage != 1 && stage != 2)
        return {false, QString("Stage %1 does not exist; stages are 1 and 2").arg(stage)};
    if (action == Action::SetPFactor && (value < 0 || value > 0xFFFF))
        return {false, QString("P-factor %1 is outside 0 to 65535").arg(value)};

    const bool wasStreaming = link().isStreaming();
    bool stopFailed = false;
    // The request waits for this thread's samples to be taken in the pause:
    // restarting the stream empties the link's store. This thread blocks on
    // the result meanwhile, so the drain never runs alongside its own.
    const LinkSequences::PausedOutcome outcome =
        controller
            ->request([&](Connection &l) {
                return LinkSequences::paused(l, [&]() -> QByteArray {
                    if (l.isStreaming()) {
                        stopFailed = true;
                        return QByteArray();
                    }
                    drainSamples(Connection::now());
                    if (action == Action::SetPFactor)
                        return RemoteSequences::setPFactor(l, stage, quint16(value));
                    // A refused switch is sent a second time, as the stage
                    // buttons do. The stream is already paused here, so the
                    // switch's own pause has nothing to stop.
                    return LinkSequences::switchStabilization(l, stage, action == Action::StabilizationOn, 2).reply;
                });
            })
            .result();
    if (stopFailed)
        return {false, "The stream could not be stopped for the command"};

    if (outcome.accepted && action == Action::SetPFactor) {
        QMutexLocker locker(&lock);
        shown.pFactor[stage - 1] = value;
    }
    if (outcome.status.valid) { // older firmware: its flags were read in the pause
        QMutexLocker locker(&lock);
        for (int s = 0; s < 2; ++s) {
            shown.stabOn[s] = outcome.status.stabilizationOn[s];
            shown.active[s] = outcome.status.active[s];
        }
    }
    if (!wasStreaming)
        pollStatus();
    if (wasStreaming) {
        lastSampleAt = Connection::now();
        if (!outcome.streamResumed) {
            wantStreaming = false;
            setLinkStatus(ControllerSnapshot::Link::Idle, "Streaming error has occurred.");
        }
    }
    if (!outcome.accepted)
        return {false, outcome.reply.isEmpty() ? QString("The controller did not answer")
                                               : QString("The controller refused the command")};
    if (!outcome.streamResumed)
        return {false, "Streaming error has occurred."};
    return {true, QString()};
}
