#include "LinkCommands.h"

#include "CliCommon.h"

#include "link/Connection.h"
#include "link/Protocol.h"
#include "link/Identification.h"

#include <functional>

namespace {

// Opens the link named in args and identifies the controller; on failure
// prints the reason and sets the exit code.
std::unique_ptr<Connection> openAndIdentify(QStringList &args, QTextStream &err, int &exitCode,
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
    return openIdentifiedLink(target, err, exitCode, identity);
}

bool wantsHelp(const QStringList &args, QTextStream &out, const char *usage)
{
    if (!args.contains(QStringLiteral("--help")))
        return false;
    out << usage << linkOptionsHelp();
    return true;
}

QByteArray stageArgument(int stage) { return QByteArray(1, char(stage)) + ';'; }

int value16(const QByteArray &reply) // 0x00 ';' hi lo ';'
{
    return (quint8(reply.at(2)) << 8) | quint8(reply.at(3));
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
    auto link = openAndIdentify(args, err, exitCode, &identity);
    if (!link)
        return exitCode;
    out << "id\t" << identity.controllerId << '\n'
        << "firmware\t" << link->firmwareVersion() << '\n'
        << "variantM\t" << int(link->isVariantM()) << '\n'
        << "triggerCapable\t" << int(link->triggerCapable()) << '\n';
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
    auto link = openAndIdentify(args, err, exitCode);
    if (!link)
        return exitCode;

    bool allAnswered = true;
    // Sends one query and returns its reply when it is good and complete.
    auto query = [&](const QString &name, const std::function<void()> &send, int length, QByteArray &reply) {
        send();
        if (link->waitForReply(reply) && isGoodReply(reply) && reply.size() == length)
            return true;
        out << name << "\tno valid reply (" << describeBytes(reply) << ")\n";
        allAnswered = false;
        return false;
    };

    QByteArray reply;
    if (query("flags", [&] { link->getStatusFlags(); }, 4, reply)) {
        const int flags = quint8(reply.at(2));
        out << "flags\t0x" << QString::number(flags, 16) << '\n'
            << "stabilization\t" << bool(flags & 0x08) << '\t' << bool(flags & 0x10) << '\n'
            << "active\t" << bool(flags & 0x20) << '\t' << bool(flags & 0x40) << '\n';
    }
    if (query("activeSignal", [&] { link->getActiveSignal(); }, 5, reply))
        out << "activeSignal\t" << quint8(reply.at(2)) << '\t' << quint8(reply.at(3)) << '\n';
    for (int stage = 1; stage <= 2; ++stage) {
        const QByteArray s = stageArgument(stage);
        const QString suffix = QString::number(stage);
        if (query("intensity" + suffix, [&] { link->getIntensity(s); }, 5, reply))
            out << "intensity" << suffix << '\t' << value16(reply) << '\n';
        if (query("pFactor" + suffix, [&] { link->getPFactor(s); }, 5, reply))
            out << "pFactor" << suffix << '\t' << value16(reply) << '\n';
        if (query("sensitivity" + suffix, [&] { link->getDetectorSensitivity(s); }, 5, reply))
            out << "sensitivity" << suffix << '\t' << value16(reply) << '\n';
        for (char axis : {'x', 'y'}) {
            const QByteArray a = QByteArray(1, char(stage)) + axis + ';';
            const QString name = QStringLiteral("adjustIn%1%2").arg(stage).arg(QLatin1Char(axis));
            if (query(name, [&] { link->getAdjustIn(a); }, 5, reply))
                out << name << '\t' << qint16(value16(reply)) << '\n';
        }
    }
    if (query("commonDetector", [&] { link->getCommonDetector(); }, 11, reply)) {
        out << "commonDetector";
        for (int i = 0; i < 4; ++i)
            out << '\t' << qint16((quint8(reply.at(2 + 2 * i)) << 8) | quint8(reply.at(3 + 2 * i)));
        out << '\n';
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
    auto link = openLink(target, error);
    if (!link) {
        err << "error: " << error << '\n';
        return ExitConnectionFailed;
    }
    if (command == "CLS;")
        link->clearLiveStream();
    else
        link->postMessage(command, answer);
    QByteArray reply;
    if (!link->waitForReply(reply) || reply.isEmpty()) {
        err << "error: no reply\n";
        return ExitCommandFailed;
    }
    out << describeBytes(reply) << '\n';
    if (!isGoodReply(reply)) {
        err << "error: the controller refused the command\n";
        return ExitCommandFailed;
    }
    return ExitOk;
}
