#pragma once

#include "link/SerialPortProvider.h"

#include <QString>

// The serial interfaces found as device files in one directory: every entry
// whose name a serial link accepts ("ttyUSB0", "COM3", ...), in name order.
// For a directory of links to simulated controllers, which the system's list
// does not know. Device files carry no maker, so the discovery accepts them
// only when non-FTDI interfaces are allowed.
class DirectorySerialPorts : public SerialPortProvider
{
public:
    explicit DirectorySerialPorts(QString directory);
    QList<SerialInterfaceInfo> availablePorts() const override;

private:
    QString directory;
};
