#include "link/SerialDiscovery.h"

#include "link/SerialDeviceDirectory.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QSerialPort>

namespace {

const int baudRates[] = {115200, 921600};
const QSerialPort::FlowControl flowControls[] = {QSerialPort::HardwareControl, QSerialPort::NoFlowControl};

constexpr int stopAttempts = 2;
constexpr int idAttempts = 2;
constexpr int collectMs = 100;
constexpr int identificationLength = 50;

int flowControlNumber(QSerialPort::FlowControl flow)
{
    return flow == QSerialPort::HardwareControl ? 1 : 0;
}

// Collects input until at least `wanted` bytes have arrived or the time is
// up, waiting at most `stepMs` at a time.
QByteArray collect(QSerialPort &port, int wanted, int stepMs)
{
    QByteArray received = port.readAll();
    QElapsedTimer timer;
    timer.start();
    while (received.size() < wanted && timer.elapsed() < collectMs) {
        port.waitForReadyRead(stepMs);
        received += port.readAll();
    }
    return received;
}

QByteArray exchange(QSerialPort &port, const QByteArray &command, int wanted, int stepMs)
{
    port.clear(QSerialPort::AllDirections);
    port.write(command);
    port.flush();
    return collect(port, wanted, stepMs);
}

} // namespace

SerialDiscovery::SerialDiscovery(std::shared_ptr<const SerialPortProvider> ports_, QString deviceDirectory_)
    : ports(std::move(ports_)), deviceDirectory(std::move(deviceDirectory_))
{
}

QStringList SerialDiscovery::candidates(bool includePseudoTerminals, bool otherSerialDevices) const
{
    QStringList names;
    if (includePseudoTerminals) {
        const QDir pts(serialDevicePath(QStringLiteral("pts/"), deviceDirectory));
        const QStringList entries = pts.entryList(QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
        for (const QString &entry : entries) {
            qInfo().noquote() << "Found pseudo interface " + entry;
            names << QStringLiteral("pts/") + entry;
        }
    }
    const QList<SerialInterfaceInfo> system = ports ? ports->availablePorts() : QList<SerialInterfaceInfo>();
    for (const SerialInterfaceInfo &info : system) {
        qInfo().noquote() << "Found interface " + info.portName << info.description << info.manufacturer;
        if (otherSerialDevices || info.manufacturer == QLatin1String("FTDI"))
            names << info.portName;
        else
            qInfo().noquote() << "Skipping interface";
    }
    return names;
}

bool SerialDiscovery::identify(QSerialPort &port, QString &controllerId)
{
    QByteArray received;
    for (int attempt = 0; attempt < stopAttempts; ++attempt) {
        qDebug().noquote() << "Clear" << attempt;
        received = exchange(port, "CLS;", 2, 10);
    }
    if (received.isEmpty()) {
        qInfo().noquote() << "Connection timeout";
        return false;
    }
    (qDebug().noquote() << "Received:").quote() << received;
    for (int attempt = 0; attempt < idAttempts; ++attempt) {
        qInfo().noquote() << "Requesting controller ID";
        const QByteArray reply = exchange(port, "GID;", identificationLength, 20);
        if (reply.size() != identificationLength)
            continue;
        const QString text = QString::fromLatin1(reply.constData(), reply.size()); // begins with a NUL
        if (text.mid(2, 3) != QLatin1String("ORX"))
            continue;
        controllerId = text.mid(2).remove(';');
        qInfo().noquote() << "Received ID" << controllerId;
        return true;
    }
    return false;
}

bool SerialDiscovery::probe(const QString &name, QStringList &entry) const
{
    qInfo().noquote() << "Trying to connect to interface " + name;
    QSerialPort port;
    port.setPortName(serialDevicePath(name, deviceDirectory));
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    for (const int baud : baudRates) {
        qInfo().noquote() << "Baud rate" << baud;
        port.setBaudRate(baud);
        for (const QSerialPort::FlowControl flow : flowControls) {
            qInfo().noquote() << "Flow control" << flowControlNumber(flow);
            port.setFlowControl(flow);
            if (!port.open(QIODevice::ReadWrite)) {
                qInfo().noquote() << "Cannot open interface" << port.errorString();
                continue;
            }
            QString controllerId;
            const bool found = identify(port, controllerId);
            port.clear(QSerialPort::AllDirections);
            port.close();
            qInfo().noquote() << "Interface closed";
            if (found) {
                entry = QStringList{controllerId, name, QString::number(baud),
                                    QString::number(flowControlNumber(flow))};
                return true;
            }
        }
    }
    return false;
}

QList<QStringList> SerialDiscovery::search(bool includePseudoTerminals, bool otherSerialDevices) const
{
    qInfo().noquote() << "Searching for serial interfaces";
    QList<QStringList> found;
    const QStringList names = candidates(includePseudoTerminals, otherSerialDevices);
    for (const QString &name : names) {
        QStringList entry;
        if (probe(name, entry))
            found.append(entry);
    }
    qInfo().noquote() << "Search for controllers completed";
    return found;
}

QList<QStringList> searchSerialControllers(bool includePseudoTerminals, bool otherSerialDevices)
{
    return SerialDiscovery(serialPortProvider(), serialDeviceDirectory()).search(includePseudoTerminals,
                                                                                 otherSerialDevices);
}
