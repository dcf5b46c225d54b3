#include "SetupCommand.h"

#include "setup/Settings.h"

#include <QColor>

namespace {

void printUsage(QTextStream &stream)
{
    stream << "Usage: beamstab-cli setup [FILE]\n"
              "Prints the controllers stored in a connection setup file, one block per\n"
              "device. Without FILE the default file ConnectionSetup.xml in the data\n"
              "directory is read.\n"
              "Exit codes: 0 success, 2 bad usage, 3 the file could not be loaded.\n";
}

QString colorText(const QColor &color)
{
    return color.isValid() ? color.name() : QStringLiteral("none");
}

void printDevice(QTextStream &out, const ConnectionSettings &record)
{
    const QString id = fixedText(record.id);
    const QString storedKey = fixedText(record.key);
    const bool tcp = record.type == Tcp;
    out << "device: " << (storedKey.isEmpty() ? deviceKey(id) : storedKey) << '\n'
        << "  type: " << (tcp ? "tcp" : "serial") << '\n'
        << "  name: " << fixedText(record.name) << '\n'
        << (tcp ? "  port: " : "  baudrate: ") << record.portOrBaud << '\n'
        << "  label: " << fixedText(record.label) << '\n'
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
    QString path;
    for (const QString &arg : args) {
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            printUsage(out);
            return 0;
        }
        if (arg.startsWith(QLatin1Char('-')) || !path.isEmpty()) {
            err << "setup: unexpected argument " << arg << '\n';
            printUsage(err);
            return 2;
        }
        path = arg;
    }

    Settings settings;
    const QString fileName = Settings::resolvePath(path);
    if (!settings.inspectFile(fileName)) {
        err << "setup: cannot load connection setup file " << fileName << '\n';
        return 3;
    }
    const QList<ConnectionSettings> &records = settings.records();
    out << "file: " << fileName << '\n' << "devices: " << records.size() << '\n';
    for (const ConnectionSettings &record : records) {
        out << '\n';
        printDevice(out, record);
    }
    out.flush();
    return 0;
}
