#include "link/DirectorySerialPorts.h"

#include "link/SerialDeviceDirectory.h"
#include "link/SerialPort.h"

#include <QDir>

DirectorySerialPorts::DirectorySerialPorts(QString directory_) : directory(std::move(directory_)) {}

QList<SerialInterfaceInfo> DirectorySerialPorts::availablePorts() const
{
    QList<SerialInterfaceInfo> ports;
    const QStringList entries =
        QDir(directory).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : entries)
        if (SerialPort::acceptsPortName(name))
            ports.append({name, QStringLiteral("device file"), QString()});
    return ports;
}

void useSerialDeviceDirectory(const QString &directory)
{
    if (directory.isEmpty())
        return;
    setSerialDeviceDirectory(directory);
    setSerialPortProvider(std::make_shared<DirectorySerialPorts>(directory));
}
