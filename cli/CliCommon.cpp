#include "CliCommon.h"

#include "controller/Controller.h"
#include "link/Identification.h"
#include "link/SerialPort.h"
#include "link/TcpClient.h"


bool takeOption(QStringList &args, const QString &name, QString &value)
{
    const int at = args.indexOf(name);
    if (at < 0 || at + 1 >= args.size())
        return false;
    value = args.at(at + 1);
    args.removeAt(at + 1);
    args.removeAt(at);
    return true;
}

bool takeFlag(QStringList &args, const QString &name)
{
    return args.removeAll(name) > 0;
}

namespace {

bool takeSerialOptions(QStringList &args, LinkTarget &target, QString &error)
{
    const bool serial = args.contains(QStringLiteral("--serial"));
    QString text;
    if (serial) {
        if (!takeOption(args, QStringLiteral("--serial"), text)) {
            error = QStringLiteral("--serial needs a port name");
            return false;
        }
        target.tcp = false;
        target.given = true;
        target.address = text;
        target.parameter = defaultSerialBaudRate;
    }
    if (args.contains(QStringLiteral("--baud"))) {
        bool ok = false;
        const int baud = takeOption(args, QStringLiteral("--baud"), text) ? text.toInt(&ok) : 0;
        if (!serial || !ok || baud <= 0) {
            error = QStringLiteral("--baud needs a baud rate and goes with --serial");
            return false;
        }
        target.parameter = baud;
    }
    if (args.contains(QStringLiteral("--device-dir"))
        && !takeOption(args, QStringLiteral("--device-dir"), target.deviceDirectory)) {
        error = QStringLiteral("--device-dir needs a directory");
        return false;
    }
    return true;
}

} // namespace

bool takeLinkOptions(QStringList &args, LinkTarget &target, QString &error)
{
    if (args.contains(QStringLiteral("--tcp")) && args.contains(QStringLiteral("--serial"))) {
        error = QStringLiteral("name the controller either with --tcp or with --serial");
        return false;
    }
    if (!takeSerialOptions(args, target, error))
        return false;
    if (args.contains(QStringLiteral("--tcp"))) {
        QString text;
        if (!takeOption(args, QStringLiteral("--tcp"), text)) {
            error = QStringLiteral("--tcp needs HOST[:PORT]");
            return false;
        }
        target.tcp = true;
        target.given = true;
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

QString linkOptionsHelp()
{
    return QStringLiteral("Link options:\n"
                          "  --tcp HOST[:PORT]   controller on TCP/IP (IP address, port 2000 by default)\n"
                          "  --serial PORT       controller on a serial interface (ttyUSB*, ttyACM*, ttyS*, COM*)\n"
                          "  --baud B            serial baud rate (115200 by default)\n"
                          "  --device-dir DIR    look serial port names up in DIR (/dev/ by default)\n");
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
