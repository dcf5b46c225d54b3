#pragma once

#include "link/SerialPortProvider.h"

// The serial interfaces the operating system reports, with the
// manufacturer strings of their USB adapters.
class SystemSerialPorts : public SerialPortProvider
{
public:
    QList<SerialInterfaceInfo> availablePorts() const override;
};
