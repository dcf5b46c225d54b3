#include "LinkCommands.h"

#include "CliCommon.h"

#include "controller/Controller.h"
#include "controller/RemoteSequences.h"
#include "link/Protocol.h"

namespace {

// Opens the link named in args and identifies the controller; on failure
// prints the reason and sets the exit code.
std::unique_ptr<Controller> openAndIdentify(QStringList &args, QTextStream &err, int &exitCode,
                                            ControllerIdentity *identity = nullptr)
{
    LinkTarget target;
    QString error;
    if (!takeLinkOptions(args, target, error) || !target.given) {
        err << "error: " << (error.isEmpty() ? QStringLiteral("name a controller with --tcp or --serial") : error) << '\n';
        exitCode = ExitUsage;
        return nullptr;
    }
    if (!args.isEmpty()) {
        err << "error: unexpected argument '" << args.first() << "'\n";
        exitCode = ExitUsage;
        return nullptr;
    }
    return openIdentifiedController(target, err, exitCode, identity);
}

bool wantsHelp(const QStringList &args, QTextStream &out, const char *usage)
{
    if (!args.contains(QStringLiteral("--help")))
        return false;
    out << usage << linkOptionsHelp();
    return true;
}

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
    if (wantsHelp(arguments, out,
                  "usage: beamstab-cli identify LINK\n"
                  "Stops a running stream, asks for the controller identification and prints it.\n"))
        return ExitOk;
    QStringList args = arguments;
    int exitCode = ExitOk;
    ControllerIdentity identity;
    const auto controller = openAndIdentify(args, err, exitCode, &identity);
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
    if (wantsHelp(arguments, out,
                  "usage: beamstab-cli status LINK\n"
                  "Prints the status flags, active signals, intensities, P-factors, detector\n"
                  "sensitivities, adjust-in values and common detector values.\n"))
        return ExitOk;
    QStringList args = arguments;
    int exitCode = ExitOk;
    const auto controller = openAndIdentify(args, err, exitCode);
    if (!controller)
        return exitCode;

    bool allAnswered = true;
    for (const StatusLine &line : controller->request(readStatusLines).result()) {
        // The flags line also needs the flags byte closed by ';'.
        const bool valid = line.answer.complete
                           && (line.shown != Shown::Flags || Protocol::statusFromReply(line.answer.reply).valid);
        if (valid) {
            printStatusLine(out, line);
        } else {
            out << line.name << "\tno valid reply (" << describeBytes(line.answer.reply) << ")\n";
            allAnswered = false;
        }
    }
    return allAnswered ? ExitOk : ExitCommandFailed;
}

int runSendCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    if (wantsHelp(arguments, out,
                  "usage: beamstab-cli send LINK [--answer N] COMMAND\n"
                  "Sends one raw command and prints the reply bytes. COMMAND is text with \\xHH\n"
                  "escapes for bytes, e.g. 'GIN\\x01;'. --answer sets the expected reply length\n"
                  "(default: the length the command's reply has). Exit 0 for a good reply\n"
                  "(0x00 ';'), 5 for a refusal or no reply.\n"))
        return ExitOk;
    QStringList args = arguments;
    QString answerText;
    const bool answerGiven = takeOption(args, QStringLiteral("--answer"), answerText);
    LinkTarget target;
    QString error;
    if (!takeLinkOptions(args, target, error) || !target.given || args.size() != 1) {
        err << "error: " << (error.isEmpty() ? QStringLiteral("usage: send LINK [--answer N] COMMAND") : error)
            << '\n';
        return ExitUsage;
    }
    bool ok = false;
    const QByteArray command = unescape(args.first(), ok);
    if (!ok || command.size() < 4 || !command.endsWith(';')) {
        err << "error: COMMAND must be three letters, arguments and ';' (\\xHH for bytes)\n";
        return ExitUsage;
    }
    int answer = Protocol::answerLength(command);
    if (answerGiven) {
        answer = answerText.toInt(&ok);
        if (!ok || answer < 0 || answer > 4096) {
            err << "error: --answer takes a number from 0 to 4096\n";
            return ExitUsage;
        }
    }
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
