// beamstab-cli: the headless command-line tool. Identifies controllers,
// reads their status, sends raw commands, streams and inspects setup files
// without the GUI, on the same core library as the application.

#include "AnalyzeCommand.h"
#include "CliApplication.h"
#include "CliCommon.h"
#include "CommandLine.h"
#include "LinkCommands.h"
#include "ScanCommand.h"
#include "SetupCommand.h"
#include "SpeedCommand.h"
#include "StreamCommand.h"

#include "app/MessageHandler.h"
#include "app/StartupFlags.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

struct Command
{
    const char *name;
    const char *summary;
    int (*run)(const QStringList &, QTextStream &, QTextStream &);
};

const Command commands[] = {
    {"identify", "identify the controller", runIdentifyCommand},
    {"status", "print status flags and stage parameters", runStatusCommand},
    {"send", "send one raw command and print the reply", runSendCommand},
    {"stream", "stream for a time and report what arrived", runStreamCommand},
    {"speed", "count the samples a 500 Hz stream delivers in one second", runSpeedCommand},
    {"setup", "print the controllers of a setup file", runSetupCommand},
    {"scan", "search the serial interfaces for controllers", runScanCommand},
    {"analyze", "jitter analysis of a recording (RMS, spectrum, Allan, headroom)", runAnalyzeCommand},
};

void printUsage(QTextStream &out)
{
    out << "Usage: beamstab-cli COMMAND [options]   (beamstab-cli COMMAND --help for details)\n\n"
           "Commands:\n";
    for (const Command &c : commands)
        out << "  " << QString::fromLatin1(c.name).leftJustified(10) << c.summary << '\n';
    const QCommandLineOption log = logOption();
    out << "\nOptions for every command:\n"
        << "  " << QStringLiteral("-h, --help").leftJustified(12) << "Displays the command's help.\n"
        << "  " << (QStringLiteral("--") + log.names().constFirst()).leftJustified(12) << log.description() << '\n'
        << "\nExit codes: 0 ok, 2 usage, 3 connection or file could not be opened,\n"
           "4 identification failed, 5 no reply, refusal or stream failure.\n";
}

// Log lines go to stderr only when asked for; the link logs every step.
bool logToStderr = false;
void cliMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (logToStderr)
        fprintf(stderr, "%s\n", qPrintable(formatLogLine(QDateTime::currentDateTime(), type, message)));
}

} // namespace

int main(int argc, char *argv[])
{
    const std::unique_ptr<QCoreApplication> application = createCliApplication(argc, argv);
    dataDirectory.setPath(defaultDataDirectoryPath());
    qInstallMessageHandler(cliMessageHandler);

    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = application->arguments().mid(1);
    // Taken out here, before any command runs, so the log starts with the link.
    logToStderr = args.removeAll(QStringLiteral("--log")) + args.removeAll(QStringLiteral("-log")) > 0;

    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")
        || args == QStringList{QStringLiteral("help")}) {
        printUsage(args.isEmpty() ? err : out);
        return args.isEmpty() ? ExitUsage : ExitOk;
    }
    QString name = args.takeFirst();
    if (name == QLatin1String("help")) { // "help COMMAND" is "COMMAND --help"
        name = args.value(0);
        args = QStringList{QStringLiteral("--help")};
    }
    for (const Command &c : commands) {
        if (name == QLatin1String(c.name))
            return c.run(args, out, err);
    }
    err << "error: unknown command '" << name << "' (see beamstab-cli --help)\n";
    return ExitUsage;
}
