#pragma once

#include "link/Connection.h"

#include <atomic>

class QSerialPort;

// Connection to a controller on a serial interface (normally an FTDI
// USB-serial adapter). The port is opened inside the link thread with the
// baud rate given to initialize, hardware flow control and 8N1; any error of
// the open port means the controller has gone: hostDisconnected is emitted
// once with the port name and the link thread ends.
class SerialPort : public Connection
{
    Q_OBJECT
public:
    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    QString address() const override { return portName; }
    bool isTcp() const override { return false; }
    // Accepts only names beginning with "ttyUSB", "ttyACM", "COM" or "ttyS".
    bool initialize(QString name, int baudRate) override;
    static bool acceptsPortName(const QString &name);
    int parameter() const override { return linkParameter; }
    void clearInput() override;
    void resync() override;

    // Directory in which the port name is looked up when the link opens;
    // the process-wide serial device directory unless set.
    void setDeviceDirectory(const QString &directory) { deviceDirectory = directory; }
    QString devicePath() const;

public slots:
    void sendMessage(QByteArray message, int answerLength) override;
    bool setlowlatency();

protected:
    void run() override;

private slots:
    void handleDisCon();

private:
    QSerialPort *port() const;

    QString portName;
    QString deviceDirectory;
    std::atomic<bool> disconnectReported{false};
};
