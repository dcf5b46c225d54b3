#include "SetupCommand.h"

#include "CliCommon.h"
#include "CommandLine.h"

#include "setup/Settings.h"

#include <QColor>

namespace {

QString colorText(const QColor &color)
{
    return color.isValid() ? color.name() : QStringLiteral("none");
}

void printDevice(QTextStream &out, const ConnectionSettings &record)
{
    const QString id = record.id;
    const QString storedKey = record.key;
    const bool tcp = record.type == Tcp;
    out << "device: " << (storedKey.isEmpty() ? deviceKey(id) : storedKey) << '\n'
        << "  type: " << (tcp ? "tcp" : "serial") << '\n'
        << "  name: " << record.name << '\n'
        << (tcp ? "  port: " : "  baudrate: ") << record.portOrBaud << '\n'
        << "  label: " << record.label << '\n'
        << "  id: " << id << '\n'
        << "  autoConnect: " << (record.autoConnect ? 1 : 0) << '\n'
        << "  colorX: " << colorText(record.colorX) << '\n'
        << "  colorY: " << colorText(record.colorY) << '\n'
        << "  colorI: " << colorText(record.colorI) << '\n';
    for (int stage = 0; stage < 2; ++stage) {
        out << "  stage" << stage + 1 << ": model=" << record.model[stage]
            << " beamDiameter=" << QString::number(record.beamDiameter[stage], 'g', 16)
            << " calculation=" << record.calculation[stage] << '\n';
    }
    out << "  pulsedLaser: " << (record.pulsedLaser ? 1 : 0) << '\n';
}

} // namespace

int runSetupCommand(const QStringList &args, QTextStream &out, QTextStream &err)
{
    CommandLine line(QStringLiteral("setup"), QStringLiteral("[FILE]"),
                     QStringLiteral("Prints the controllers stored in a connection setup file, one block per\n"
                                    "device.\n"
                                    "Exit codes: 0 success, 2 bad usage, 3 the file could not be loaded."));
    line.setErrorPrefix(QStringLiteral("setup: "));
    line.addPositionalArgument(QStringLiteral("FILE"),
                               QStringLiteral("The setup file (default: ConnectionSetup.xml in the data directory)."),
                               QStringLiteral("[FILE]"));
    int exitCode = ExitOk;
    if (!line.parse(args, 1, out, err, exitCode))
        return exitCode;
    const QString path = line.positionalArguments().value(0);

    Settings settings;
    const QString fileName = Settings::resolvePath(path);
    if (!settings.inspectFile(fileName)) {
        err << "setup: cannot load connection setup file " << fileName << '\n';
        return ExitConnectionFailed;
    }
    const QList<ConnectionSettings> &records = settings.records();
    out << "file: " << fileName << '\n' << "devices: " << records.size() << '\n';
    for (const ConnectionSettings &record : records) {
        out << '\n';
        printDevice(out, record);
    }
    out.flush();
    return ExitOk;
}
