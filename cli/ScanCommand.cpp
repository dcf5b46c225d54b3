#include "ScanCommand.h"

#include "CliCommon.h"

#include "link/DirectorySerialPorts.h"
#include "link/SerialDeviceDirectory.h"
#include "link/SerialDiscovery.h"

int runScanCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QStringList args = arguments;
    if (takeFlag(args, QStringLiteral("--help"))) {
        out << "usage: beamstab-cli scan [--all] [--pts] [--device-dir DIR]\n"
               "Searches the serial interfaces for controllers and prints one line per\n"
               "controller: ID, port, baud rate, flow control (1 = hardware, 0 = none).\n"
               "  --all             also try interfaces that are not FTDI adapters\n"
               "  --pts             also try the pseudo-terminals in DIR/pts/\n"
               "  --device-dir DIR  search the serial device files in DIR instead of the\n"
               "                    system's list (/dev/ by default); they need --all\n";
        return ExitOk;
    }
    const bool all = takeFlag(args, QStringLiteral("--all"));
    const bool pseudoTerminals = takeFlag(args, QStringLiteral("--pts"));
    QString directory;
    const bool ownDirectory = args.contains(QStringLiteral("--device-dir"));
    if (ownDirectory && !takeOption(args, QStringLiteral("--device-dir"), directory)) {
        err << "error: --device-dir needs a directory\n";
        return ExitUsage;
    }
    if (!args.isEmpty()) {
        err << "error: unexpected argument '" << args.first() << "'\n";
        return ExitUsage;
    }

    std::shared_ptr<const SerialPortProvider> ports = serialPortProvider();
    if (ownDirectory)
        ports = std::make_shared<DirectorySerialPorts>(directory);
    else
        directory = serialDeviceDirectory();
    const QList<QStringList> found = SerialDiscovery(ports, directory).search(pseudoTerminals, all);
    for (const QStringList &entry : found)
        out << entry.join(QLatin1Char('\t')) << '\n';
    if (found.isEmpty())
        err << "no controllers found\n";
    return ExitOk;
}
