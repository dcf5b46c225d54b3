#include "ScanCommand.h"

#include "CliCommon.h"
#include "CommandLine.h"

#include "link/DirectorySerialPorts.h"
#include "link/SerialDeviceDirectory.h"
#include "link/SerialDiscovery.h"

int runScanCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    CommandLine line(QStringLiteral("scan"), QStringLiteral("[--all] [--pts] [--device-dir DIR]"),
                     QStringLiteral("Searches the serial interfaces for controllers and prints one line per\n"
                                    "controller: ID, port, baud rate, flow control (1 = hardware, 0 = none)."));
    const QString allName = QStringLiteral("all"), ptsName = QStringLiteral("pts"),
                  directoryName = QStringLiteral("device-dir");
    line.addOptions({
        {allName, QStringLiteral("Also try interfaces that are not FTDI adapters.")},
        {ptsName, QStringLiteral("Also try the pseudo-terminals in DIR/pts/.")},
        {directoryName,
         QStringLiteral("Search the serial device files in DIR instead of the system's list (/dev/ by default); "
                        "they carry no maker, so they need --all."),
         QStringLiteral("DIR")},
    });
    int exitCode = ExitOk;
    if (!line.parse(arguments, 0, out, err, exitCode))
        return exitCode;
    const bool all = line.isSet(allName);
    const bool pseudoTerminals = line.isSet(ptsName);
    const bool ownDirectory = line.isSet(directoryName);
    QString directory = line.value(directoryName);

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
