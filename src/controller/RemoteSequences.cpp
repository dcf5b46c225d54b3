#include "controller/RemoteSequences.h"

#include "link/Connection.h"
#include "link/Protocol.h"

namespace RemoteSequences {

namespace {

// Waits for the reply of the query just posted and judges it against the
// reply length of `code`.
Answer answerOf(Connection &link, const char *code)
{
    Answer answer;
    link.waitForReply(answer.reply);
    answer.complete = Protocol::isCompleteReply(code, answer.reply);
    return answer;
}

} // namespace

Answer readFlags(Connection &link)
{
    link.getStatusFlags();
    return answerOf(link, "GSF");
}

Answer readActiveSignals(Connection &link)
{
    link.getActiveSignal();
    return answerOf(link, "GAS");
}

Answer readIntensity(Connection &link, int stage)
{
    link.getIntensity(Protocol::stageArgument(stage));
    return answerOf(link, "GIN");
}

Answer readPFactor(Connection &link, int stage)
{
    link.getPFactor(Protocol::stageArgument(stage));
    return answerOf(link, "GPF");
}

Answer readSensitivity(Connection &link, int stage)
{
    link.getDetectorSensitivity(Protocol::stageArgument(stage));
    return answerOf(link, "GDS");
}

Answer readAdjustIn(Connection &link, int stage, char axis)
{
    link.getAdjustIn(Protocol::axisArgument(stage, axis));
    return answerOf(link, "GAI");
}

Answer readCommonDetector(Connection &link)
{
    link.getCommonDetector();
    return answerOf(link, "GCA");
}

QByteArray setPFactor(Connection &link, int stage, quint16 value)
{
    link.setPFactor(Protocol::stageRawArgument(stage, value));
    QByteArray reply;
    link.waitForReply(reply);
    return reply;
}

QByteArray sendRaw(Connection &link, const QByteArray &command, int answerLength)
{
    if (command == "CLS;")
        link.clearLiveStream();
    else
        link.postMessage(command, answerLength);
    QByteArray reply;
    link.waitForReply(reply);
    return reply;
}

} // namespace RemoteSequences
