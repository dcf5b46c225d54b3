#include "SimController.h"

#include <chrono>
#include <cmath>
#include <cstring>

namespace {

struct CommandFormat
{
    const char *code;
    int arguments;   // bytes after the code, including ';'
};

// Argument lengths of every command the controller knows.
constexpr CommandFormat Commands[] = {
    {"CLS", 1}, {"SLS", 5}, {"SGS", 5}, {"SPS", 3}, {"S1S", 1}, {"GSF", 1},
    {"GID", 1}, {"GAS", 1}, {"GIN", 2}, {"GAI", 3}, {"SAI", 5}, {"GPF", 2},
    {"SPF", 4}, {"GDS", 2}, {"SDS", 4}, {"SSH", 2}, {"CSH", 2}, {"STF", 2},
    {"CTF", 2}, {"SDA", 5}, {"SEA", 2}, {"CEA", 2}, {"SMD", 2}, {"CMD", 2},
    {"SSE", 2}, {"GCA", 1}, {"GER", 1}, {"RFR", 4}, {"SBR", 2}, {"SLA", 26},
};

constexpr qint64 PartialCommandTimeoutMs = 200;
constexpr int MaxLogEntries = 100000;
constexpr int MaxMessagesPerTick = 2000;
constexpr int MessageSize = 25;

void put16(char *p, int v)
{
    p[0] = char((v >> 8) & 0xFF);
    p[1] = char(v & 0xFF);
}

int get16(const QByteArray &b, int i)
{
    return (quint8(b[i]) << 8) | quint8(b[i + 1]);
}

quint32 realtimeMicros()
{
    using namespace std::chrono;
    return quint32(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

// Stage byte: 1 or 2, or 3 (both) where allowed. Returns a bit mask of stages or 0.
int stageMask(char b, bool bothAllowed)
{
    if (b == 1 || b == 2)
        return b;
    if (b == 3 && bothAllowed)
        return 3;
    return 0;
}

int axisIndex(char b)
{
    return b == 'x' ? 0 : b == 'y' ? 1 : -1;
}

} // namespace

SimController::SimController(int index, const SimConfig &config)
    : m_index(index)
    , m_config(config)
    , m_model(config.seed + quint32(index) * 7919u)
    , m_faultRng(config.seed ^ 0x5A5A5A5Au ^ quint32(index))
{
}

void SimController::setConfig(const SimConfig &config)
{
    const bool reseed = config.seed != m_config.seed;
    m_config = config;
    if (reseed) {
        m_model = BeamModel(config.seed + quint32(m_index) * 7919u);
        m_faultRng.seed(config.seed ^ 0x5A5A5A5Au ^ quint32(m_index));
    }
}

int SimController::argumentLength(const char *code)
{
    for (const CommandFormat &c : Commands)
        if (std::memcmp(c.code, code, 3) == 0)
            return c.arguments;
    return -1;
}

QByteArray SimController::identification() const
{
    QByteArray text = "ORX-BS2-";
    text += m_config.triggerCapable ? 'A' : 'N';
    text += m_config.variantM ? "-VM" : "-V";
    text += QByteArray::number(m_config.firmware);
    text += '-';
    text += m_config.idText.isEmpty()
                ? QByteArray("SIM") + QByteArray::number(m_index).rightJustified(3, '0')
                : m_config.idText.toLatin1();
    text.replace(';', '-');
    return text.leftJustified(47, '-', true);
}

void SimController::receive(const char *data, int size, qint64 nowMs)
{
    m_nowMs = nowMs;
    if (m_input.isEmpty())
        m_inputSinceMs = nowMs;
    m_input.append(data, size);
    parse(nowMs);
}

void SimController::parse(qint64 nowMs)
{
    while (!m_input.isEmpty()) {
        // Line ends and blanks between commands are harmless.
        const char first = m_input[0];
        if (first == '\r' || first == '\n' || first == ' ') {
            m_input.remove(0, 1);
            continue;
        }
        if (m_input.size() < 3)
            break;
        const int args = argumentLength(m_input.constData());
        QByteArray cmd;
        if (args < 0) {
            const int end = m_input.indexOf(';');
            if (end < 0)
                break;
            cmd = m_input.left(end + 1);
            m_input.remove(0, end + 1);
            ++m_counters.commandsReceived;
            if (m_log.size() < MaxLogEntries)
                m_log.append(cmd);
            if (!isStreaming())
                refuse(cmd, UnknownCommand);
        } else {
            const int length = 3 + args;
            if (m_input.size() < length)
                break;
            bool wellFormed = m_input[length - 1] == ';';
            int consumed = length;
            if (!wellFormed) {
                const int end = m_input.indexOf(';', 3);
                consumed = end < 0 ? m_input.size() : end + 1;
            }
            cmd = m_input.left(consumed);
            m_input.remove(0, consumed);
            ++m_counters.commandsReceived;
            if (m_log.size() < MaxLogEntries)
                m_log.append(cmd);
            if (isStreaming()) {
                // While streaming only the stop command is served.
                if (wellFormed && cmd == "CLS;")
                    execute(cmd, nowMs);
            } else if (!wellFormed) {
                refuse(cmd, Malformed);
            } else {
                execute(cmd, nowMs);
            }
        }
        m_inputSinceMs = nowMs;
    }
}

void SimController::refuse(const QByteArray &cmd, Error error)
{
    m_replyCommand = cmd;
    m_lastError = cmd.left(3).leftJustified(3, ' ') + char(error);
    reply(QByteArray("\x01;", 2));
}

void SimController::reply(const QByteArray &bytes, int messages, int streamMessages)
{
    ++m_replyCount;
    if (m_faults.dropEvery > 0 && m_replyCount % m_faults.dropEvery == 0) {
        ++m_counters.repliesDropped;
        return;
    }
    int delay = m_faults.delayMs;
    for (auto it = m_faults.replyDelayByPrefix.cbegin(); it != m_faults.replyDelayByPrefix.cend(); ++it)
        if (m_replyCommand.startsWith(it.key()))
            delay += it.value();
    if (m_faults.trailingJunk > 0) {
        QByteArray junk(m_faults.trailingJunk, '\x01');
        for (char &c : junk)
            c = char(garbageByte());
        m_pending.append({m_nowMs + delay, bytes, messages, streamMessages});
        m_pending.append({m_nowMs + delay + 3, junk, 0, 0});
        return;
    }
    if (delay > 0 || !m_pending.isEmpty()) {
        m_pending.append({m_nowMs + delay, bytes, messages, streamMessages});
        return;
    }
    write(bytes.constData(), bytes.size());
    m_counters.messagesSent += messages;
    m_counters.streamMessagesSent += streamMessages;
}

void SimController::write(const char *data, int size)
{
    if (m_output)
        m_output(data, size);
}

void SimController::replyValue(int value)
{
    char r[5] = {0, ';', 0, 0, ';'};
    put16(r + 2, value);
    reply(QByteArray(r, 5));
}

SimStageState SimController::stageState(int s) const
{
    SimStageState state;
    if (s < 0 || s > 1)
        return state;
    state.pFactor = m_model.pFactor(s);
    state.pFactorSoftware = m_pFactorSet;
    state.adjustIn[0] = m_model.adjustIn(s, 0);
    state.adjustIn[1] = m_model.adjustIn(s, 1);
    state.adjustInSoftware = m_adjustInSet[s];
    state.sensitivity = m_model.sensitivity(s);
    state.setHold = m_model.setHold(s);
    state.freeze = m_model.freeze(s);
    state.multiplex = m_model.multiplex(s);
    state.stabilization = m_model.stabilization(s);
    return state;
}

quint8 SimController::statusFlags() const
{
    quint8 f = 0;
    if (m_pFactorSet)
        f |= 0x01;
    if (m_adjustInSet[0])
        f |= 0x02;
    if (m_adjustInSet[1])
        f |= 0x04;
    for (int s = 0; s < 2; ++s) {
        if (m_model.stabilization(s))
            f |= quint8(0x08 << s);
        if (m_model.isActive(s))
            f |= quint8(0x20 << s);
    }
    return f;
}

void SimController::advanceModelTo(double t)
{
    m_model.advance(t - m_model.time());
}

void SimController::advanceModelToNow(qint64 nowMs)
{
    if (m_epochMs < 0)
        m_epochMs = nowMs - qint64(m_model.time() * 1000);
    advanceModelTo((nowMs - m_epochMs) / 1000.0);
}

void SimController::buildMessage(char *m, bool last, bool inStream)
{
    const BeamSample s = m_model.sample();
    m[0] = 0;
    m[1] = ';';
    quint8 flags = 0;
    quint8 mode = 0;
    if (m_config.firmware >= 11) {
        flags = statusFlags() & 0x78;
        if (last)
            flags |= 0x80;
        if (m_model.multiplex(0))
            mode |= 0x01;
        if (m_model.multiplex(1))
            mode |= 0x02;
    }
    if (m_config.variantM && inStream && int(m_faultRng() % 100) < m_config.ignorePercent)
        mode |= 0x04;
    m[2] = char(flags);
    m[3] = char(mode);
    put16(m + 4, s.x[0]);
    put16(m + 6, s.y[0]);
    put16(m + 8, s.intensity[0]);
    put16(m + 10, s.x[1]);
    put16(m + 12, s.y[1]);
    put16(m + 14, s.intensity[1]);
    if (m_config.bench && inStream) {
        const quint32 us = realtimeMicros();
        put16(m + 16, int(us >> 16));
        put16(m + 18, int(us & 0xFFFF));
        put16(m + 20, int(m_sequence >> 16));
        put16(m + 22, int(m_sequence & 0xFFFF));
        // The same number in the stage-2 positions, which a recording in
        // volts writes without loss (the ranges keep only 2 decimals).
        put16(m + 10, int(m_sequence & 0xFFFF));
        put16(m + 12, int(m_sequence >> 16));
        ++m_sequence;
    } else {
        put16(m + 16, s.rangeX[0]);
        put16(m + 18, s.rangeY[0]);
        put16(m + 20, s.rangeX[1]);
        put16(m + 22, s.rangeY[1]);
    }
    m[24] = ';';
}

void SimController::startStream(StreamMode mode, int rate, qint64 nowMs)
{
    advanceModelToNow(nowMs);
    m_mode = mode;
    m_rate = rate;
    m_streamStartMs = nowMs;
    m_streamModelStart = m_model.time();
    m_sequence = 0;
    if (mode == StreamMode::Rate) {
        m_streamIndex = 1;
        char m[MessageSize];
        buildMessage(m, false, true);
        reply(QByteArray(m, MessageSize), 1, 1);
    } else {
        m_streamIndex = 0;
        ack();
    }
}

void SimController::stopStream()
{
    const bool wasStreaming = isStreaming();
    m_mode = StreamMode::Off;
    if (wasStreaming && m_config.firmware >= 11 && !m_faults.loseLastMessage) {
        char m[MessageSize + 2];
        buildMessage(m, true, true);
        m[MessageSize] = 0;
        m[MessageSize + 1] = ';';
        reply(QByteArray(m, MessageSize + 2), 2, 1);   // last message + acknowledge
        return;
    }
    ack();
}

void SimController::resetLink()
{
    m_mode = StreamMode::Off;
    m_input.clear();
    m_pending.clear();
}

void SimController::tick(qint64 nowMs)
{
    m_nowMs = nowMs;
    if (!m_input.isEmpty() && nowMs - m_inputSinceMs > PartialCommandTimeoutMs) {
        // A command that never completes is refused as malformed.
        const QByteArray cmd = m_input;
        m_input.clear();
        if (!isStreaming())
            refuse(cmd, Malformed);
    }
    if (!m_pending.isEmpty()) {
        while (!m_pending.isEmpty() && m_pending.first().dueMs <= nowMs) {
            const Pending p = m_pending.takeFirst();
            write(p.bytes.constData(), p.bytes.size());
            m_counters.messagesSent += p.messages;
            m_counters.streamMessagesSent += p.streamMessages;
        }
        if (!m_pending.isEmpty())
            return;   // stream messages follow the delayed reply
    }
    if (isStreaming())
        emitStreamMessages(nowMs);
}

void SimController::emitStreamMessages(qint64 nowMs)
{
    const qint64 elapsed = nowMs - m_streamStartMs;
    if (elapsed < 0)
        return;
    qint64 due = elapsed * m_rate / 1000;
    if (m_mode == StreamMode::Rate)
        due += 1;   // message 0 was the start reply
    int budget = MaxMessagesPerTick;
    char m[MessageSize];
    while (m_streamIndex < due && budget-- > 0) {
        advanceModelTo(m_streamModelStart + double(m_streamIndex) / m_rate);
        ++m_streamIndex;
        if (m_faults.stallStream) {
            ++m_sequence;
            continue;
        }
        buildMessage(m, false, true);
        write(m, MessageSize);
        ++m_counters.messagesSent;
        ++m_counters.streamMessagesSent;
        if (m_faults.garbageEvery > 0 && m_faults.garbageBytes > 0
            && m_counters.streamMessagesSent % m_faults.garbageEvery == 0) {
            QByteArray garbage(m_faults.garbageBytes, '\x01');
            for (char &c : garbage)
                c = char(garbageByte());
            write(garbage.constData(), garbage.size());
            m_counters.garbageBytesSent += garbage.size();
        }
    }
}

void SimController::execute(const QByteArray &cmd, qint64 nowMs)
{
    const QByteArray code = cmd.left(3);
    m_replyCommand = cmd;
    if (m_faults.silentCodes.contains(code))
        return;
    if (m_faults.refuseAll || m_faults.refuseCodes.contains(code)) {
        refuse(cmd, Refused);
        return;
    }
    const char *a = cmd.constData() + 3;   // argument bytes

    if (code == "CLS") {
        stopStream();
    } else if (code == "SLS" || code == "SGS") {
        const int rate = (quint8(a[0]) << 24) | (quint8(a[1]) << 16) | get16(cmd, 5);
        if (code == "SGS" && !m_config.variantM)
            refuse(cmd, NotAvailable);
        else if (rate < 1 || rate > 500)
            refuse(cmd, BadArgument);
        else
            startStream(StreamMode::Rate, rate, nowMs);
    } else if (code == "SPS") {
        const int pulses = int(std::lround(m_config.pulseRate));
        if (!m_config.triggerCapable)
            refuse(cmd, NotAvailable);
        else if (a[0] != 0 || a[1] != 0 || pulses < 1)
            refuse(cmd, BadArgument);
        else
            startStream(StreamMode::Trigger, pulses, nowMs);
    } else if (code == "S1S") {
        advanceModelToNow(nowMs);
        char m[MessageSize];
        buildMessage(m, false, false);
        reply(QByteArray(m, MessageSize));
    } else if (code == "GSF") {
        advanceModelToNow(nowMs);
        const char r[4] = {0, ';', char(statusFlags()), ';'};
        reply(QByteArray(r, 4));
    } else if (code == "GID") {
        QByteArray id = QByteArray("\x00;", 2) + identification() + ';';
        if (m_faults.foreignIdentification)
            id.replace(2, 3, "XYZ");
        reply(m_faults.shortIdentification ? id.left(id.size() - 1) : id);
    } else if (code == "GAS") {
        const char r[5] = {0, ';', char(m_model.isActive(0)), char(m_model.isActive(1)), ';'};
        reply(QByteArray(r, 5));
    } else if (code == "GCA") {
        advanceModelToNow(nowMs);
        char r[11] = {0, ';'};
        for (int s = 0; s < 2; ++s)
            for (int axis = 0; axis < 2; ++axis)
                put16(r + 2 + 4 * s + 2 * axis, int(std::lround(m_model.position(s, axis))));
        r[10] = ';';
        reply(QByteArray(r, 11));
    } else if (code == "GER") {
        reply(QByteArray("\x00;", 2) + m_lastError + ';');
    } else if (code == "RFR") {
        // FRAM image: the label, then a deterministic fill pattern.
        const int count = quint8(a[2]);
        QByteArray fram = m_label;
        for (int i = fram.size(); i < count; ++i)
            fram += char((get16(cmd, 3) + i * 37) & 0xFF);
        reply(QByteArray("\x00;", 2) + fram.left(count) + ';');
    } else if (code == "SBR") {
        const int baud = a[0] == 1 ? 115200 : a[0] == 4 ? 460800 : a[0] == 9 ? 921600 : 0;
        if (baud > 0) {
            ack();
            if (m_baudRateHandler && !m_faults.keepBaudRate)
                m_baudRateHandler(baud);
        } else
            refuse(cmd, BadArgument);
    } else if (code == "SLA") {
        m_label = cmd.mid(3, 25);
        ack();
    } else if (code == "GAI" || code == "SAI" || code == "SDA") {
        const int s = stageMask(a[0], false) - 1;
        const int axis = axisIndex(a[1]);
        if (s < 0 || axis < 0) {
            refuse(cmd, BadArgument);
            return;
        }
        const qint16 value = cmd.size() == 8 ? qint16(get16(cmd, 5)) : qint16(0);
        advanceModelToNow(nowMs);
        if (code == "GAI") {
            replyValue(m_model.adjustIn(s, axis));
            return;
        }
        if (code == "SAI") {
            // 0 on both axes hands the target back to the analog input.
            m_model.setAdjustIn(s, axis, value);
            m_adjustInSet[s] = m_model.adjustIn(s, 0) != 0 || m_model.adjustIn(s, 1) != 0;
        } else {
            m_model.driveActuator(s, axis, value);
        }
        ack();
    } else {
        // Commands that take a stage byte.
        const bool both = code == "SSH" || code == "CSH" || code == "STF" || code == "CTF";
        const int mask = stageMask(a[0], both);
        if (mask == 0) {
            refuse(cmd, BadArgument);
            return;
        }
        // The detector sensitivity is known from firmware 31 on.
        if ((code == "GDS" || code == "SDS") && m_config.firmware < 31) {
            refuse(cmd, UnknownCommand);
            return;
        }
        advanceModelToNow(nowMs);
        const int s = mask == 3 ? 0 : mask - 1;
        const int value = cmd.size() == 7 ? get16(cmd, 4) : 0;
        if (code == "GIN") {
            replyValue(m_model.intensity(s));
            return;
        }
        if (code == "GPF") {
            replyValue(m_model.pFactor(s));
            return;
        }
        if (code == "GDS") {
            replyValue(m_model.sensitivity(s));
            return;
        }
        for (int st = 0; st < 2; ++st) {
            if (!(mask & (1 << st)))
                continue;
            if (code == "SPF") {
                m_model.setPFactor(st, value);
                m_pFactorSet = value != 0;
            } else if (code == "SDS") {
                m_model.setSensitivity(st, value);
            } else if (code == "SSH") {
                m_model.startSetHold(st);
            } else if (code == "CSH") {
                m_model.clearSetHold(st);
            } else if (code == "STF" || code == "CTF") {
                m_model.setFreeze(st, code == "STF");
            } else if (code == "SEA" || code == "CEA") {
                m_model.setStabilization(st, code == "SEA");
            } else if (code == "SMD" || code == "CMD") {
                m_model.setMultiplex(st, code == "SMD");
            } else if (code == "SSE") {
                // Locks the stage on the beam it sees now: back on its own
                // detector, stabilization on.
                m_model.setMultiplex(st, false);
                m_model.setStabilization(st, true);
            }
        }
        if (code == "STF") {
            const char r[5] = {0, ';', 0, char(mask), ';'};
            reply(QByteArray(r, 5));
        } else {
            ack();
        }
    }
}
