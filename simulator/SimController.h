#pragma once

#include "BeamModel.h"
#include "SimConfig.h"

#include <QByteArray>
#include <QList>
#include <QVector>
#include <functional>
#include <random>

// The protocol side of one simulated controller, independent of the transport:
// bytes received go into receive(), everything the controller says leaves
// through the output function. tick() is called often (every 1-2 ms) by the
// serving thread and emits the stream messages that are due and replies whose
// delay has passed. Times are milliseconds of a monotonic clock.
//
// Benchmark mode: every stream message carries the 32-bit sequence number of
// the message since the stream start (0 = the start reply) in the stage-2
// actuator ranges (rangeX2 = bits 31..16, rangeY2 = bits 15..0) and the send
// time, the low 32 bits of the microseconds since the Unix epoch from the
// realtime clock, in the stage-1 actuator ranges (rangeX1 = bits 31..16,
// rangeY1 = bits 15..0). Both are raw 16-bit patterns. The sequence number
// is also put into the stage-2 positions (x2 = bits 15..0, y2 = bits
// 31..16), where a recording file keeps it exactly.
class SimController
{
public:
    using Output = std::function<void(const char *data, int size)>;

    // Error codes reported by GER.
    enum Error : char {
        NoError = 0,
        UnknownCommand = 1,
        Malformed = 2,
        BadArgument = 3,
        NotAvailable = 4,
        Refused = 5,
    };

    SimController(int index, const SimConfig &config);

    void setOutput(Output output) { m_output = std::move(output); }
    // Called with the new baud rate after SBR has been acknowledged.
    void setBaudRateHandler(std::function<void(int baud)> handler) { m_baudRateHandler = std::move(handler); }
    int index() const { return m_index; }

    const SimConfig &config() const { return m_config; }
    void setConfig(const SimConfig &config);
    const SimFaults &faults() const { return m_faults; }
    void setFaults(const SimFaults &faults) { m_faults = faults; }

    void receive(const char *data, int size, qint64 nowMs);
    void tick(qint64 nowMs);
    // The link went away: stop any stream, forget partial input and pending replies.
    void resetLink();

    bool isStreaming() const { return m_mode != StreamMode::Off; }
    const SimCounters &counters() const { return m_counters; }
    const QList<QByteArray> &commandLog() const { return m_log; }
    void clearCommandLog() { m_log.clear(); }
    QByteArray identification() const;   // the 47 characters of the GID reply
    QByteArray label() const { return m_label; }
    BeamModel &model() { return m_model; }
    // What the controller holds for stage index s (0 or 1).
    SimStageState stageState(int s) const;

    // Bytes after the three letters, including the final ';'; -1 for unknown codes.
    static int argumentLength(const char *code);

private:
    enum class StreamMode { Off, Rate, Trigger };
    struct Pending
    {
        qint64 dueMs;
        QByteArray bytes;
        int messages;
        int streamMessages;
    };

    void parse(qint64 nowMs);
    void execute(const QByteArray &cmd, qint64 nowMs);
    void refuse(const QByteArray &cmd, Error error);
    void reply(const QByteArray &bytes, int messages = 1, int streamMessages = 0);
    void replyValue(int value);
    void ack() { reply(QByteArray("\x00;", 2)); }
    void startStream(StreamMode mode, int rate, qint64 nowMs);
    void stopStream();
    void emitStreamMessages(qint64 nowMs);
    void advanceModelTo(double t);
    void advanceModelToNow(qint64 nowMs);
    void buildMessage(char *m, bool last, bool inStream);
    void write(const char *data, int size);
    quint8 statusFlags() const;
    quint8 garbageByte() { return quint8(1 + m_faultRng() % 255); }

    int m_index;
    SimConfig m_config;
    SimFaults m_faults;
    Output m_output;
    std::function<void(int)> m_baudRateHandler;
    BeamModel m_model;
    std::mt19937 m_faultRng;

    QByteArray m_input;
    qint64 m_inputSinceMs = 0;
    qint64 m_nowMs = 0;
    QVector<Pending> m_pending;
    QList<QByteArray> m_log;
    SimCounters m_counters;
    qint64 m_replyCount = 0;
    QByteArray m_replyCommand;      // the command being answered
    QByteArray m_lastError{"   \x00", 4};
    QByteArray m_label{25, ' '};
    bool m_pFactorSet = false;
    bool m_adjustInSet[2] = {false, false};

    StreamMode m_mode = StreamMode::Off;
    int m_rate = 0;                 // messages (or pulses) per second
    qint64 m_streamStartMs = 0;
    double m_streamModelStart = 0;
    qint64 m_streamIndex = 0;       // messages due so far, including the start reply
    quint32 m_sequence = 0;         // benchmark sequence number of the next message
    qint64 m_epochMs = -1;          // clock value of the model time origin
};
