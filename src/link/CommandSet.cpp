#include "link/CommandSet.h"

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

namespace CommandSet {

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

} // namespace CommandSet
