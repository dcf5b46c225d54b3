#include "SpeedCommand.h"

#include "CliCommon.h"
#include "CommandLine.h"

#include "controller/Controller.h"
#include "link/LinkSpeedTest.h"

int runSpeedCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    CommandLine line(QStringLiteral("speed"), QStringLiteral("LINK [--rate R]"),
                     QStringLiteral("Streams at R Hz for one second, stops the stream and prints how many samples\n"
                                    "arrived: \"Speed Test: 500 of 500 received\" on a link that keeps up. A stream\n"
                                    "left running by someone else is stopped first.\n")
                         + linkArgumentHelp);
    const QString rateName = QStringLiteral("rate");
    line.addOptions({{rateName, QStringLiteral("Stream rate, 1 to 500 Hz (500 by default)."), QStringLiteral("R")}});
    LinkTarget target;
    int exitCode = ExitOk;
    if (!parseLinkCommand(line, arguments, 0, out, err, target, exitCode))
        return exitCode;
    int rate = LinkSpeedTest::defaultRate;
    if (!line.intValue(rateName, 1, 500, rate))
        return line.usageError(err, QStringLiteral("--rate takes 1 to 500 Hz"));

    const auto controller = openIdentifiedController(target, err, exitCode);
    if (!controller)
        return exitCode;
    const LinkSpeedTest::Result result =
        controller->speedTest(rate, LinkSpeedTest::defaultDurationMs).result().result;
    out << LinkSpeedTest::describe(result) << '\n';
    return result.outcome == LinkSpeedTest::Measured ? ExitOk : ExitCommandFailed;
}
