#pragma once

#include <QColor>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

// Link type of a controller. Every value other than Tcp means serial.
enum ConnectionType : std::int32_t {
    Serial = 0,
    Tcp = 1
};

// Stored settings of one controller, copied whole by value. Text fields are
// fixed-size, zero-terminated arrays in the local 8-bit encoding; fill and
// read them only through setFixedText() and fixedText(), which cut text that
// does not fit and always leave the field terminated.
struct ConnectionSettings
{
    std::int32_t type = Serial;    // ConnectionType
    char label[64] = {};           // user label of the system
    char name[64] = {};            // serial port name or host address
    std::int32_t portOrBaud = 0;   // baud rate (serial) or TCP port
    std::int32_t position = 0;     // place in the system order; not stored in files
    std::int32_t group = 0;        // subsystem group; read from files, never written
    bool autoConnect = false;      // connect when the setup is loaded
    char id[64] = {};              // controller ID
    char key[12] = {};             // device key, see deviceKey()
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

// Device key naming a controller in the setup file: the last 11 characters
// of the first 25 characters of the controller ID.
QString deviceKey(const QString &id);

// Writes text into a field of `size` bytes in the local 8-bit encoding. Text
// that does not fit is cut after the last whole character that fits, so the
// field never holds a partial multi-byte character; the rest of the field is
// zero-filled and the last byte is always zero.
void copyToFixedField(char *field, std::size_t size, const QString &text);

// Reads a field of `size` bytes up to its first zero byte (or its end, should
// the terminator be missing) from the local 8-bit encoding.
QString fromFixedField(const char *field, std::size_t size);

template<std::size_t N>
void setFixedText(char (&field)[N], const QString &text)
{
    copyToFixedField(field, N, text);
}

template<std::size_t N>
QString fixedText(const char (&field)[N])
{
    return fromFixedField(field, N);
}

// The records in the order of their places in the system configuration
// (position), records with the same place keeping their order. A setup is
// saved in this order, so loading it brings the controllers back in it.
QList<ConnectionSettings> inSystemOrder(const QList<ConnectionSettings> &records);
