#include "LinkCommands.h"

#include "CliCommon.h"
#include "CommandLine.h"

#include "controller/Controller.h"
#include "controller/RemoteSequences.h"
#include "link/Protocol.h"

namespace {

// How a status line shows its reply.
enum class Shown { Flags, TwoBytes, Value, SignedValue, SignedValues };

struct StatusLine
{
    QString name;
    Shown shown;
    RemoteSequences::Answer answer;
};

// Every query of the status command, in the order they are printed, as one
// request: nothing else reaches the controller in between.
QList<StatusLine> readStatusLines(Connection &link)
{
    using namespace RemoteSequences;
    QList<StatusLine> lines;
    lines << StatusLine{QStringLiteral("flags"), Shown::Flags, readFlags(link)}
          << StatusLine{QStringLiteral("activeSignal"), Shown::TwoBytes, readActiveSignals(link)};
    for (int stage = 1; stage <= 2; ++stage) {
        const QString suffix = QString::number(stage);
        lines << StatusLine{"intensity" + suffix, Shown::Value, readIntensity(link, stage)}
              << StatusLine{"pFactor" + suffix, Shown::Value, readPFactor(link, stage)}
              << StatusLine{"sensitivity" + suffix, Shown::Value, readSensitivity(link, stage)};
        for (char axis : {'x', 'y'})
            lines << StatusLine{QStringLiteral("adjustIn%1%2").arg(stage).arg(QLatin1Char(axis)), Shown::SignedValue,
                                readAdjustIn(link, stage, axis)};
    }
    lines << StatusLine{QStringLiteral("commonDetector"), Shown::SignedValues, readCommonDetector(link)};
    return lines;
}

void printStatusLine(QTextStream &out, const StatusLine &line)
{
    const QByteArray &reply = line.answer.reply;
    switch (line.shown) {
    case Shown::Flags: {
        const Protocol::StatusFlags flags = Protocol::statusFromReply(reply);
        out << "flags\t0x" << QString::number(flags.raw, 16) << '\n'
            << "stabilization\t" << flags.stabilizationOn[0] << '\t' << flags.stabilizationOn[1] << '\n'
            << "active\t" << flags.active[0] << '\t' << flags.active[1] << '\n';
        break;
    }
    case Shown::TwoBytes: {
        const QByteArray data = Protocol::replyData(reply);
        out << line.name << '\t' << quint8(data.at(0)) << '\t' << quint8(data.at(1)) << '\n';
        break;
    }
    case Shown::Value:
        out << line.name << '\t' << Protocol::replyValue(reply) << '\n';
        break;
    case Shown::SignedValue:
        out << line.name << '\t' << qint16(Protocol::replyValue(reply)) << '\n';
        break;
    case Shown::SignedValues:
        out << line.name;
        for (int value : Protocol::replyValues(reply))
            out << '\t' << qint16(value);
        out << '\n';
        break;
    }
}

QByteArray unescape(const QString &text, bool &ok)
{
    ok = true;
    const QByteArray in = text.toLatin1();
    QByteArray out;
    for (int i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 >= in.size()) {
            out.append(in[i]);
            continue;
        }
        const char next = in[++i];
        if (next == 'x' && i + 2 < in.size() + 0) {
            bool hexOk = false;
            const int value = in.mid(i + 1, 2).toInt(&hexOk, 16);
            if (!hexOk || in.mid(i + 1, 2).size() != 2) {
                ok = false;
                return {};
            }
            out.append(char(value));
            i += 2;
        } else if (next == '\\') {
            out.append('\\');
        } else {
            ok = false;
            return {};
        }
    }
    return out;
}

} // namespace

int runIdentifyCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    CommandLine line(QStringLiteral("identify"), QStringLiteral("LINK"),
                     QStringLiteral("Stops a running stream, asks for the controller identification and prints it.\n")
                         + linkArgumentHelp);
    LinkTarget target;
    int exitCode = ExitOk;
    if (!parseLinkCommand(line, arguments, 0, out, err, target, exitCode))
        return exitCode;
    ControllerIdentity identity;
    const auto controller = openIdentifiedController(target, err, exitCode, &identity);
    if (!controller)
        return exitCode;
    const Connection &link = controller->link();
    out << "id\t" << identity.controllerId << '\n'
        << "firmware\t" << link.firmwareVersion() << '\n'
        << "variantM\t" << int(link.isVariantM()) << '\n'
        << "triggerCapable\t" << int(link.triggerCapable()) << '\n';
    return ExitOk;
}

int runStatusCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    CommandLine line(QStringLiteral("status"), QStringLiteral("LINK"),
                     QStringLiteral("Prints the status flags, active signals, intensities, P-factors, detector\n"
                                    "sensitivities, adjust-in values and common detector values.\n")
                         + linkArgumentHelp);
    LinkTarget target;
    int exitCode = ExitOk;
    if (!parseLinkCommand(line, arguments, 0, out, err, target, exitCode))
        return exitCode;
    const auto controller = openIdentifiedController(target, err, exitCode);
    if (!controller)
        return exitCode;

    bool allAnswered = true;
    for (const StatusLine &entry : controller->request(readStatusLines).result()) {
        // The flags line also needs the flags byte closed by ';'.
        const bool valid = entry.answer.complete
                           && (entry.shown != Shown::Flags || Protocol::statusFromReply(entry.answer.reply).valid);
        if (valid) {
            printStatusLine(out, entry);
        } else {
            out << entry.name << "\tno valid reply (" << describeBytes(entry.answer.reply) << ")\n";
            allAnswered = false;
        }
    }
    return allAnswered ? ExitOk : ExitCommandFailed;
}

int runSendCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    CommandLine line(QStringLiteral("send"), QStringLiteral("LINK [--answer N] COMMAND"),
                     QStringLiteral("Sends one raw command and prints the reply bytes. Exit 0 for a good reply\n"
                                    "(0x00 ';'), 5 for a refusal or no reply.\n")
                         + linkArgumentHelp);
    const QString answerName = QStringLiteral("answer");
    line.addOptions({{answerName,
                      QStringLiteral("Expected reply length in bytes, 0 to 4096 (default: the length the "
                                     "command's reply has)."),
                      QStringLiteral("N")}});
    line.addPositionalArgument(QStringLiteral("COMMAND"),
                               QStringLiteral("Three letters, arguments and ';', with \\xHH escapes for bytes "
                                              "(\\\\ for a backslash), e.g. 'GIN\\x01;'."));
    LinkTarget target;
    int exitCode = ExitOk;
    if (!parseLinkCommand(line, arguments, 1, out, err, target, exitCode))
        return exitCode;
    if (line.positionalArguments().isEmpty())
        return line.usageError(err, QStringLiteral("name the COMMAND to send"));
    bool ok = false;
    const QByteArray command = unescape(line.positionalArguments().first(), ok);
    if (!ok || command.size() < 4 || !command.endsWith(';'))
        return line.usageError(err, QStringLiteral("COMMAND must be three letters, arguments and ';' (\\xHH for bytes)"));
    int answer = Protocol::answerLength(command);
    if (!line.intValue(answerName, 0, 4096, answer))
        return line.usageError(err, QStringLiteral("--answer takes a number from 0 to 4096"));
    QString error;
    const auto controller = openController(target, error);
    if (!controller) {
        err << "error: " << error << '\n';
        return ExitConnectionFailed;
    }
    const QByteArray reply = controller
                                 ->request([command, answer](Connection &link) {
                                     return RemoteSequences::sendRaw(link, command, answer);
                                 })
                                 .result();
    if (reply.isEmpty()) {
        err << "error: no reply\n";
        return ExitCommandFailed;
    }
    out << describeBytes(reply) << '\n';
    if (!Protocol::isGoodReply(reply)) {
        err << "error: the controller refused the command\n";
        return ExitCommandFailed;
    }
    return ExitOk;
}
