#include "link/Protocol.h"

#include <QList>

#include <cstring>

namespace {

struct Entry
{
    char code[4];
    int answer;
};

// SPS starts the trigger stream; its reply is the bare acknowledgement,
// while SLS and SGS answer with the first stream message.
constexpr Entry table[] = {
    {"CLS", 2},  {"SLS", 25}, {"SGS", 25}, {"SPS", 2},  {"S1S", 25}, {"GSF", 4},  {"GID", 50}, {"GAS", 5},
    {"GIN", 5},  {"GAI", 5},  {"SAI", 2},  {"GPF", 5},  {"SPF", 2},  {"GDS", 5},  {"SDS", 2},  {"SSH", 2},
    {"CSH", 2},  {"STF", 5},  {"CTF", 2},  {"SDA", 2},  {"SEA", 2},  {"CEA", 2},  {"SMD", 2},  {"CMD", 2},
    {"SSE", 2},  {"GCA", 11}, {"GER", 7},  {"RFR", 258}, {"SBR", 2}, {"SLA", 2},
};

const Entry *find(const QByteArray &command)
{
    if (command.size() < 3)
        return nullptr;
    for (const Entry &e : table)
        if (std::memcmp(e.code, command.constData(), 3) == 0)
            return &e;
    return nullptr;
}

} // namespace

namespace Protocol {

int answerLength(const QByteArray &command)
{
    const Entry *e = find(command);
    return e ? e->answer : 2;
}

bool isKnown(const QByteArray &command)
{
    return find(command) != nullptr;
}

QList<QByteArray> codes()
{
    QList<QByteArray> all;
    for (const Entry &e : table)
        all << QByteArray(e.code, 3);
    return all;
}

bool isGoodReply(const QByteArray &reply)
{
    return reply.size() >= 2 && reply.at(0) == '\0' && reply.at(1) == ';';
}

bool isRefusal(const QByteArray &reply)
{
    return !reply.isEmpty() && reply.at(0) != '\0';
}

int replyValue(const QByteArray &reply)
{
    if (reply.size() < 4 || !isGoodReply(reply))
        return -1;
    return (quint8(reply.at(2)) << 8) | quint8(reply.at(3));
}

bool isCompleteReply(const QByteArray &command, const QByteArray &reply)
{
    return isGoodReply(reply) && reply.size() == answerLength(command);
}

QByteArray replyData(const QByteArray &reply)
{
    if (!isGoodReply(reply) || reply.size() < 3 || !reply.endsWith(';'))
        return QByteArray();
    return reply.mid(2, reply.size() - 3);
}

QList<int> replyValues(const QByteArray &reply)
{
    const QByteArray data = replyData(reply);
    QList<int> values;
    for (int i = 0; i + 1 < data.size(); i += 2)
        values << ((quint8(data.at(i)) << 8) | quint8(data.at(i + 1)));
    return values;
}

bool isAcknowledged(const QByteArray &reply, int minimumSize)
{
    return reply.size() >= qMax(1, minimumSize) && reply.at(0) == '\0';
}

int replyWord(const QByteArray &reply, int position)
{
    if (position < 0 || reply.size() < position + 2)
        return -1;
    return (quint8(reply.at(position)) << 8) | quint8(reply.at(position + 1));
}

namespace {

QByteArray value16(quint16 raw)
{
    return QByteArray(1, char(raw >> 8)) + char(raw & 0xFF);
}

// Thousandths of a value, truncated toward zero.
int thousandths(double value)
{
    return int(value * 1000.0);
}

} // namespace

QByteArray rateArguments(int rate)
{
    return QByteArray("\x00\x00", 2) + value16(quint16(rate)) + ';';
}

QByteArray stageArgument(int stage)
{
    return QByteArray(1, char(stage)) + ';';
}

QByteArray stageRawArgument(int stage, quint16 raw)
{
    return QByteArray(1, char(stage)) + value16(raw) + ';';
}

QByteArray axisArgument(int stage, char axis)
{
    return QByteArray(1, char(stage)) + axis + ';';
}

QByteArray valueArgument(int stage, double value)
{
    return QByteArray(1, char(stage)) + value16(quint16(thousandths(value))) + ';';
}

QByteArray axisValueArgument(int stage, char axis, double value)
{
    return axisRawArgument(stage, axis, quint16(qint16(thousandths(value))));
}

QByteArray axisRawArgument(int stage, char axis, quint16 raw)
{
    return QByteArray(1, char(stage)) + axis + value16(raw) + ';';
}

QByteArray framArguments()
{
    return QByteArray("\x00\x00\xFF;", 4);
}

char baudRateCode(int baud)
{
    switch (baud) {
    case 115200:
        return 1;
    case 460800:
        return 4;
    case 921600:
        return 9;
    default:
        return 0;
    }
}

QByteArray baudRateArguments(int baud)
{
    return QByteArray(1, baudRateCode(baud)) + ';';
}

QByteArray labelArguments(const QString &label)
{
    QByteArray bytes = label.toLocal8Bit().left(labelLength);
    bytes.append(QByteArray(labelLength - bytes.size(), ' '));
    return bytes + ';';
}

StatusFlags statusFlags(unsigned char flags)
{
    StatusFlags status;
    status.valid = true;
    status.raw = flags;
    status.pFactorFromSoftware = flags & (1 << 0);
    status.adjustFromSoftware[0] = flags & (1 << 1);
    status.adjustFromSoftware[1] = flags & (1 << 2);
    status.stabilizationOn[0] = flags & (1 << 3);
    status.stabilizationOn[1] = flags & (1 << 4);
    status.active[0] = flags & (1 << 5);
    status.active[1] = flags & (1 << 6);
    return status;
}

StatusFlags statusFromReply(const QByteArray &reply)
{
    if (reply.size() >= 4 && isGoodReply(reply) && reply.at(3) == ';')
        return statusFlags(static_cast<unsigned char>(reply.at(2)));
    return StatusFlags();
}

} // namespace Protocol
