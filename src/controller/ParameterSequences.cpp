#include "controller/ParameterSequences.h"

#include "controller/LinkSequences.h"
#include "link/Connection.h"
#include "link/StreamPause.h"

namespace ParameterSequences {

namespace {

constexpr int firstSensitivityFirmware = 31;
constexpr char axes[2] = {'x', 'y'};

// A stream sample reply carries more than 24 bytes.
constexpr int sampleMinimum = 25;
// GCA: 0x00 ';' four values ';'.
constexpr int commonReplySize = 11;

QByteArray waited(Connection &link)
{
    QByteArray reply;
    link.waitForReply(reply);
    return reply;
}

QByteArray send(Connection &link, void (Connection::*sender)(const QByteArray &), const QByteArray &arguments)
{
    (link.*sender)(arguments);
    return waited(link);
}

QByteArray send(Connection &link, void (Connection::*sender)())
{
    (link.*sender)();
    return waited(link);
}

int signedValue(const QByteArray &reply)
{
    const int raw = Protocol::replyValue(reply);
    return raw < 0 ? 0 : int(qint16(quint16(raw)));
}

int unsignedValue(const QByteArray &reply)
{
    return qMax(0, Protocol::replyValue(reply));
}

} // namespace

bool holdPosition(const QByteArray &sample, int stage, int &x, int &y)
{
    if (sample.size() < sampleMinimum)
        return false;
    const int base = stage == 1 ? 4 : 10;
    x = qint16(quint16(Protocol::replyWord(sample, base)));
    y = qint16(quint16(Protocol::replyWord(sample, base + 2)));
    return true;
}

Reading read(Connection &link)
{
    Reading r;
    StreamPause pause(link);
    pause.pause();

    const QByteArray flags = send(link, &Connection::getStatusFlags);
    r.flagsGood = Protocol::isGoodReply(flags);
    if (r.flagsGood)
        r.flags = Protocol::statusFlags(flags.size() > 2 ? quint8(flags.at(2)) : 0);

    r.sample = send(link, &Connection::getStreamSample);
    for (int i = 0; i < 4; ++i)
        r.adjust[i] = signedValue(send(link, &Connection::getAdjustIn, Protocol::axisArgument(i / 2 + 1, axes[i % 2])));
    for (int s = 0; s < 2; ++s)
        r.pFactor[s] = unsignedValue(send(link, &Connection::getPFactor, Protocol::stageArgument(s + 1)));
    if (link.firmwareVersion() >= firstSensitivityFirmware) {
        r.sensitivityRead = true;
        for (int s = 0; s < 2; ++s)
            r.sensitivity[s] =
                unsignedValue(send(link, &Connection::getDetectorSensitivity, Protocol::stageArgument(s + 1)));
    }
    r.streamResumed = pause.resume();
    return r;
}

ApplyOutcome apply(Connection &link, const ApplyInputs &in)
{
    ApplyOutcome out;
    StreamPause pause(link);
    pause.pause();
    const auto fail = [&out](ApplyFailure::What what, int stage) { out.failures.append({what, stage}); };

    // P-factor: one source for both stages; a stage-1 failure sends stage 2
    // to the external input as well.
    bool stage1Failed = false;
    for (int s = 0; s < 2; ++s) {
        const int stage = s + 1;
        if (in.pFactorSoftware[s] && !(s == 1 && stage1Failed)) {
            if (!Protocol::isGoodReply(send(link, &Connection::setPFactor, Protocol::valueArgument(stage, in.pFactor[s])))) {
                fail(ApplyFailure::PFactor, stage);
                stage1Failed = stage1Failed || s == 0;
            }
        } else if (send(link, &Connection::setPFactor, Protocol::valueArgument(stage, 0)).isEmpty()) {
            fail(ApplyFailure::PFactorExternal, stage);
            stage1Failed = stage1Failed || s == 0;
        }
    }

    for (int s = 0; s < 2; ++s) {
        const int stage = s + 1;
        if (in.sensitivitySoftware[s]) {
            const QByteArray reply =
                send(link, &Connection::setDetectorSensitivity, Protocol::valueArgument(stage, in.sensitivity[s]));
            if (!Protocol::isGoodReply(reply))
                fail(ApplyFailure::Sensitivity, stage);
        } else {
            send(link, &Connection::setDetectorSensitivity, Protocol::valueArgument(stage, 0));
        }
    }

    for (int s = 0; s < 2; ++s) {
        for (int a = 0; a < 2; ++a) {
            const double value = in.adjustSoftware[s] ? in.adjust[s][a] : 0.0;
            const QByteArray reply =
                send(link, &Connection::setAdjustIn, Protocol::axisValueArgument(s + 1, axes[a], value));
            if (!Protocol::isGoodReply(reply))
                fail(a == 0 ? ApplyFailure::AdjustX : ApplyFailure::AdjustY, s + 1);
        }
    }

    link.setTriggerMode(in.triggerMode);
    out.streamResumed = pause.resume();
    return out;
}

HoldOutcome setHold(Connection &link, int stage)
{
    HoldOutcome out;
    StreamPause pause(link);
    pause.pause();
    QByteArray holdReply;
    if (stage == 1) {
        out.sample = send(link, &Connection::getStreamSample);
        holdReply = send(link, &Connection::startSetHold, Protocol::stageArgument(1));
    } else {
        holdReply = send(link, &Connection::startSetHold, Protocol::stageArgument(2));
        out.sample = send(link, &Connection::getStreamSample);
    }
    out.held = Protocol::isAcknowledged(holdReply, 2);
    out.streamResumed = pause.resume();
    return out;
}

IdOutcome readId(Connection &link)
{
    IdOutcome out;
    StreamPause pause(link);
    pause.pause();
    out.reply = send(link, &Connection::getControllerId);
    out.streamResumed = pause.resume();
    return out;
}

MultiplexOutcome switchToCommon(Connection &link)
{
    MultiplexOutcome out;
    StreamPause pause(link);
    pause.pause();
    for (int s = 0; s < 2; ++s)
        out.switched[s] = Protocol::isAcknowledged(send(link, &Connection::setMultiplex, Protocol::stageArgument(s + 1)));
    out.streamResumed = pause.resume();
    return out;
}

CommonOutcome readCommon(Connection &link)
{
    CommonOutcome out;
    StreamPause pause(link);
    pause.pause();
    const QByteArray reply = send(link, &Connection::getCommonDetector);
    out.available = reply.size() >= commonReplySize && Protocol::isAcknowledged(reply);
    if (out.available)
        for (int i = 0; i < 4; ++i)
            out.values[i] = qint16(quint16(Protocol::replyWord(reply, 2 + 2 * i)));
    out.streamResumed = pause.resume();
    return out;
}

TargetsOutcome setTargets(Connection &link, const int values[4])
{
    TargetsOutcome out;
    StreamPause pause(link);
    pause.pause();
    for (int i = 0; i < 4; ++i) {
        const QByteArray arguments = Protocol::axisRawArgument(i / 2 + 1, axes[i % 2], quint16(qint16(values[i])));
        if (!Protocol::isGoodReply(send(link, &Connection::setAdjustIn, arguments)))
            break;
        ++out.accepted;
    }
    out.streamResumed = pause.resume();
    return out;
}

LockOutcome lock(Connection &link, const bool stages[2])
{
    LockOutcome out;
    StreamPause pause(link);
    pause.pause();
    for (int s = 0; s < 2; ++s)
        if (stages[s])
            out.locked[s] = Protocol::isAcknowledged(send(link, &Connection::sendSSE, Protocol::stageArgument(s + 1)));
    out.streamResumed = pause.resume();
    return out;
}

} // namespace ParameterSequences
