#pragma once

#include <QList>
#include <QString>

#include <memory>

// One serial interface as the operating system reports it.
struct SerialInterfaceInfo
{
    QString portName;     // e.g. "ttyUSB0" or "COM3"
    QString description;
    QString manufacturer; // "FTDI" for the adapters the controllers carry
};

// Source of the machine's serial interfaces for the controller discovery.
// The application uses the system's list; tests install a list of their own.
class SerialPortProvider
{
public:
    virtual ~SerialPortProvider() = default;
    virtual QList<SerialInterfaceInfo> availablePorts() const = 0;
};

// The process-wide provider: the system's serial interfaces unless another
// provider was installed.
std::shared_ptr<const SerialPortProvider> serialPortProvider();

// Installs a provider for the whole process; nullptr restores the system's.
void setSerialPortProvider(std::shared_ptr<const SerialPortProvider> provider);
