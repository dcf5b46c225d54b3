#pragma once

#include "link/SerialPortProvider.h"

#include <QList>
#include <QStringList>

#include <memory>

class QSerialPort;

// Searches the machine's serial interfaces for controllers: opens each
// candidate with every known line setting (115200 then 921600 baud, each
// with hardware flow control and then without), stops a stream that may be
// running ("CLS;"), asks for the identification ("GID;") and keeps the
// controllers that answer with the maker tag. Runs in the calling thread and
// blocks it while it probes: up to 4 x 2 x 100 ms for a silent candidate.
// Never fails as a whole; interfaces that do not open or answer are logged
// and skipped.
//
// Each entry of the result is {controller ID, port name, baud rate, flow
// control (1 = hardware, 0 = none)}, the numbers as decimal text.
class SerialDiscovery
{
public:
    SerialDiscovery(std::shared_ptr<const SerialPortProvider> ports, QString deviceDirectory);

    QList<QStringList> search(bool includePseudoTerminals, bool otherSerialDevices) const;

private:
    QStringList candidates(bool includePseudoTerminals, bool otherSerialDevices) const;
    // Tries every line setting on one interface; true with the entry filled
    // when a controller identified itself.
    bool probe(const QString &name, QStringList &entry) const;
    // One open port: true when a controller answered and identified itself.
    static bool identify(QSerialPort &port, QString &controllerId);

    std::shared_ptr<const SerialPortProvider> ports;
    QString deviceDirectory;
};

// The discovery over the process-wide serial port provider and device
// directory, as the connection dialog runs it.
QList<QStringList> searchSerialControllers(bool includePseudoTerminals, bool otherSerialDevices);
