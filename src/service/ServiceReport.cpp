#include "service/ServiceReport.h"

#include "link/Protocol.h"
#include "link/StreamMessage.h"

#include <QStringList>

namespace ServiceReport {

namespace {

constexpr int framReplySize = 258; // 0x00 ';', 255 bytes, ';'

int bit(quint8 byte, int n)
{
    return (byte >> n) & 1;
}

QString pairLine(const char *caption, int a, int b)
{
    return QStringLiteral("%1%2 / %3\n").arg(QLatin1String(caption)).arg(a).arg(b);
}

QString valuesLine(const char *caption, std::initializer_list<int> values)
{
    QStringList texts;
    for (int v : values)
        texts << QString::number(v);
    return QLatin1String(caption) + texts.join(QStringLiteral(" / ")) + QStringLiteral(" [mV]\n");
}

} // namespace

bool isSuccess(const QByteArray &reply)
{
    return Protocol::isAcknowledged(reply, 2);
}

QString activeSignal(const QByteArray &reply)
{
    if (reply.size() < 5)
        return QStringLiteral("Get Active Signal: failed - no response\n");
    return QStringLiteral("Get Active Signal: \n  Active 1: %1\n  Active 2: %2\n")
        .arg(reply.at(2) != 0 ? 1 : 0)
        .arg(reply.at(3) != 0 ? 1 : 0);
}

QString intensity(const QByteArray &reply)
{
    if (reply.size() < 5)
        return QStringLiteral("Get Intensity: failed - no response\n");
    const auto value = static_cast<qint16>(quint16(Protocol::replyWord(reply, 2)));
    return QStringLiteral("Get Intensity:%1\n").arg(value);
}

QString streamSample(const QByteArray &reply)
{
    // A good reply (0x00 ';') that holds a whole stream message.
    if (reply.size() < StreamMessage::size || !Protocol::isGoodReply(reply))
        return QStringLiteral("Trigger One Shot: Failed\n");
    StreamSample s;
    StreamMessage::decode(reply.constData(), true, 0, s);
    const auto status = quint8(reply.at(2));
    const auto mode = quint8(reply.at(3));
    return QStringLiteral("Trigger One Shot: Success\n") + pairLine("On/Off Stage 1/2: ", bit(status, 3), bit(status, 4))
           + pairLine("Active Stage 1/2: ", bit(status, 5), bit(status, 6))
           + pairLine("(Multiplex) Stage 1/2: ", bit(mode, 0), bit(mode, 1))
           + valuesLine("Stage 1 x/y/i: ", {s.x1, s.y1, s.intensity1})
           + valuesLine("Stage 2 x/y/i: ", {s.x2, s.y2, s.intensity2})
           + valuesLine("Range 1 x/y: ", {s.rangeX1, s.rangeY1})
           + valuesLine("Range 2 x/y: ", {s.rangeX2, s.rangeY2});
}

QString lastError(const QByteArray &reply)
{
    // 0x00 ';', three letters of the command, the code.
    if (!Protocol::isAcknowledged(reply, 6))
        return QStringLiteral("Get Error: Failed\n");
    return QStringLiteral("Get Error: Command:%1 Code: %2\n")
        .arg(QString::fromLatin1(reply.mid(2, 3)))
        .arg(quint8(reply.at(5)));
}

QString framDump(const QByteArray &reply)
{
    if (reply.size() != framReplySize)
        return QStringLiteral("Not supported! \n");
    const QByteArray content = reply.mid(2, framReplySize - 3);
    QString text;
    text.reserve(content.size() * 9);
    for (int i = 0; i < content.size(); ++i)
        text += QStringLiteral("%1: %2\n").arg(i).arg(quint8(content.at(i)), 2, 16, QLatin1Char('0'));
    return text;
}

} // namespace ServiceReport
