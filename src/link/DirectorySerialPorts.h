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

// Makes the serial links and the controller discovery use the device files
// in directory (both the port list and the name lookup); an empty text
// keeps the system's ports and "/dev/". The application calls it at start
// with the environment variable BEAMSTAB_SERIAL_DIR.
void useSerialDeviceDirectory(const QString &directory);
