#include "link/SystemSerialPorts.h"

#include <QSerialPortInfo>

QList<SerialInterfaceInfo> SystemSerialPorts::availablePorts() const
{
    QList<SerialInterfaceInfo> ports;
    const QList<QSerialPortInfo> system = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : system)
        ports.append({info.portName(), info.description(), info.manufacturer()});
    return ports;
}
