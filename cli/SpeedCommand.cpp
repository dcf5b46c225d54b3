#include "SpeedCommand.h"

#include "CliCommon.h"

#include "controller/Controller.h"
#include "link/LinkSpeedTest.h"

int runSpeedCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    if (arguments.contains(QStringLiteral("--help"))) {
        out << "usage: beamstab-cli speed LINK [--rate R]\n"
               "Streams at R Hz (500 by default) for one second, stops the stream and prints\n"
               "how many samples arrived: \"Speed Test: 500 of 500 received\" on a link that\n"
               "keeps up. A stream left running by someone else is stopped first.\n"
            << linkOptionsHelp();
        return ExitOk;
    }
    QStringList args = arguments;
    QString rateText;
    const bool hasRate = takeOption(args, QStringLiteral("--rate"), rateText);
    LinkTarget target;
    QString error;
    if (!takeLinkOptions(args, target, error) || !target.given || !args.isEmpty()) {
        err << "error: " << (error.isEmpty() ? QStringLiteral("usage: speed LINK [--rate R]") : error) << '\n';
        return ExitUsage;
    }
    int rate = LinkSpeedTest::defaultRate;
    if (hasRate) {
        bool ok = false;
        rate = rateText.toInt(&ok);
        if (!ok || rate < 1 || rate > 500) {
            err << "error: --rate takes 1 to 500 Hz\n";
            return ExitUsage;
        }
    }

    int exitCode = ExitOk;
    const auto controller = openIdentifiedController(target, err, exitCode);
    if (!controller)
        return exitCode;
    const LinkSpeedTest::Result result =
        controller->speedTest(rate, LinkSpeedTest::defaultDurationMs).result().result;
    out << LinkSpeedTest::describe(result) << '\n';
    return result.outcome == LinkSpeedTest::Measured ? ExitOk : ExitCommandFailed;
}
