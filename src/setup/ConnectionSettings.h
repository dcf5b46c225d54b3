#pragma once

#include <QColor>
#include <QList>
#include <QString>

#include <cstdint>

// Link type of a controller. Every value other than Tcp means serial.
enum ConnectionType : std::int32_t {
    Serial = 0,
    Tcp = 1
};

// Stored settings of one controller, copied whole by value.
struct ConnectionSettings
{
    std::int32_t type = Serial;    // ConnectionType
    QString label;                 // user label of the system
    QString name;                  // serial port name or host address
    std::int32_t portOrBaud = 0;   // baud rate (serial) or TCP port
    std::int32_t position = 0;     // place in the system order; not stored in files
    std::int32_t group = 0;        // subsystem group; read from files, never written
    bool autoConnect = false;      // connect when the setup is loaded
    QString id;                    // controller ID
    QString key;                   // device key, see deviceKey(); at most deviceKeyLength characters
    QColor colorX;                 // trace colours; invalid until set
    QColor colorY;
    QColor colorI;
    QColor commonColorX;           // common-detector traces; read, never written
    QColor commonColorY;
    QColor commonColorI;
    bool pulsedLaser = false;      // trigger display flag
    std::int32_t model[2] = {0, 0};             // detector type of stage 1, 2
    double beamDiameter[2] = {50.0, 50.0};      // µm, stage 1, 2
    std::int32_t calculation[2] = {0, 0};       // 0 = volts, else length unit
};

// Longest device key: keys taken from a file are cut to this length.
constexpr int deviceKeyLength = 11;

// Device key naming a controller in the setup file: the last 11 characters
// of the first 25 characters of the controller ID.
QString deviceKey(const QString &id);

// The records in the order of their places in the system configuration
// (position), records with the same place keeping their order. A setup is
// saved in this order, so loading it brings the controllers back in it.
QList<ConnectionSettings> inSystemOrder(const QList<ConnectionSettings> &records);
