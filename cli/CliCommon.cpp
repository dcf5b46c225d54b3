#include "CliCommon.h"

#include "CommandLine.h"

#include "controller/Controller.h"
#include "link/Identification.h"
#include "link/SerialPort.h"
#include "link/TcpClient.h"

#include <limits>


const char linkArgumentHelp[] = "LINK names the controller: --tcp HOST[:PORT] or --serial PORT [--baud B]\n"
                                "[--device-dir DIR].";

QList<QCommandLineOption> linkOptions()
{
    return {
        {QStringLiteral("tcp"), QStringLiteral("Controller on TCP/IP: IP address, port 2000 by default."),
         QStringLiteral("HOST[:PORT]")},
        {QStringLiteral("serial"), QStringLiteral("Controller on a serial interface (ttyUSB*, ttyACM*, ttyS*, COM*)."),
         QStringLiteral("PORT")},
        {QStringLiteral("baud"), QStringLiteral("Serial baud rate (115200 by default)."), QStringLiteral("B")},
        {QStringLiteral("device-dir"), QStringLiteral("Look serial port names up in DIR (/dev/ by default)."),
         QStringLiteral("DIR")},
    };
}

bool readLinkTarget(const CommandLine &line, LinkTarget &target, QString &error)
{
    const bool tcp = line.isSet(QStringLiteral("tcp"));
    const bool serial = line.isSet(QStringLiteral("serial"));
    if (tcp && serial) {
        error = QStringLiteral("name the controller either with --tcp or with --serial");
        return false;
    }
    if (!tcp && !serial) {
        error = QStringLiteral("name a controller with --tcp or --serial");
        return false;
    }
    target.deviceDirectory = line.value(QStringLiteral("device-dir"));
    if (serial) {
        target.tcp = false;
        target.address = line.value(QStringLiteral("serial"));
        target.parameter = defaultSerialBaudRate;
    }
    if (line.isSet(QStringLiteral("baud"))
        && (!serial || !line.intValue(QStringLiteral("baud"), 1, std::numeric_limits<int>::max(), target.parameter))) {
        error = QStringLiteral("--baud needs a baud rate and goes with --serial");
        return false;
    }
    if (tcp) {
        const QString text = line.value(QStringLiteral("tcp"));
        target.tcp = true;
        target.address = text;
        target.parameter = 2000;
        // "HOST:PORT", but an IPv6 address alone has colons of its own.
        const int colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon > 0 && text.count(QLatin1Char(':')) == 1) {
            bool ok = false;
            target.parameter = text.mid(colon + 1).toInt(&ok);
            target.address = text.left(colon);
            if (!ok || target.parameter <= 0 || target.parameter > 65535) {
                error = QStringLiteral("invalid TCP port in '%1'").arg(text);
                return false;
            }
        }
    }
    return true;
}

bool parseLinkCommand(CommandLine &line, const QStringList &args, int maxPositional, QTextStream &out,
                      QTextStream &err, LinkTarget &target, int &exitCode)
{
    line.addOptions(linkOptions());
    if (!line.parse(args, maxPositional, out, err, exitCode))
        return false;
    QString error;
    if (!readLinkTarget(line, target, error)) {
        exitCode = line.usageError(err, error);
        return false;
    }
    return true;
}

namespace {

// How long the link may take to connect; the transports give up on their
// own before that.
constexpr int connectWaitMs = 5000;

} // namespace

std::unique_ptr<Controller> openController(const LinkTarget &target, QString &error)
{
    std::unique_ptr<Connection> link;
    SerialPort *serialPort = nullptr;
    if (target.tcp) {
        link = std::make_unique<TcpClient>();
    } else {
        auto serial = std::make_unique<SerialPort>();
        if (!target.deviceDirectory.isEmpty())
            serial->setDeviceDirectory(target.deviceDirectory);
        serialPort = serial.get();
        link = std::move(serial);
    }
    if (!link->initialize(target.address, target.parameter)) {
        error = target.tcp ? QStringLiteral("'%1' is not a usable address").arg(target.address)
                           : QStringLiteral("Serial port is not suitable for communication");
        return nullptr;
    }
    auto controller = std::make_unique<Controller>(std::move(link));
    if (!controller->open(connectWaitMs).result()) {
        error = target.tcp ? QStringLiteral("could not connect to %1:%2").arg(target.address).arg(target.parameter)
                           : QStringLiteral("could not open serial port %1 at %2 baud")
                                 .arg(serialPort->devicePath())
                                 .arg(target.parameter);
        return nullptr;
    }
    return controller;
}

QString describeBytes(const QByteArray &bytes)
{
    QString hex = QString::fromLatin1(bytes.toHex(' '));
    QString text;
    for (char c : bytes)
        text += (c >= 0x20 && c < 0x7F) ? QLatin1Char(c) : QLatin1Char('.');
    return QStringLiteral("%1 bytes: %2  |%3|").arg(bytes.size()).arg(hex, text);
}

std::unique_ptr<Controller> openIdentifiedController(const LinkTarget &target, QTextStream &err, int &exitCode,
                                                     ControllerIdentity *identity)
{
    QString error;
    auto controller = openController(target, error);
    if (!controller) {
        err << "error: " << error << '\n';
        exitCode = ExitConnectionFailed;
        return nullptr;
    }
    const ControllerIdentity found = controller->identify().result();
    if (!found.valid) {
        err << "error: System identification failed\n";
        exitCode = ExitIdentificationFailed;
        return nullptr;
    }
    if (identity)
        *identity = found;
    exitCode = ExitOk;
    return controller;
}
