#include "link/SerialPort.h"

#include "link/SerialDeviceDirectory.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSerialPort>

namespace {

const char *const acceptedPrefixes[] = {"ttyUSB", "ttyACM", "COM", "ttyS"};

} // namespace

SerialPort::SerialPort(QObject *parent) : Connection(parent), deviceDirectory(serialDeviceDirectory()) {}

SerialPort::~SerialPort()
{
    qInfo().noquote() << "Deleting serial connection";
    stopLinkThread();
}

bool SerialPort::initialize(QString name, int baudRate)
{
    qInfo().noquote() << "Initializing serial connection" << name;
    portName = name;
    linkParameter = baudRate;
    return acceptsPortName(name);
}

bool SerialPort::acceptsPortName(const QString &name)
{
    for (const char *prefix : acceptedPrefixes)
        if (name.startsWith(QLatin1String(prefix)))
            return true;
    return false;
}

QString SerialPort::devicePath() const
{
    return serialDevicePath(portName, deviceDirectory);
}

QSerialPort *SerialPort::port() const
{
    return static_cast<QSerialPort *>(currentDevice());
}

void SerialPort::sendMessage(QByteArray message, int answerLength)
{
    Connection::sendMessage(message, answerLength);
    if (QSerialPort *p = port())
        p->flush();
}

bool SerialPort::setlowlatency()
{
    return true;
}

void SerialPort::clearInput()
{
    QSerialPort *p = port();
    if (!p || !p->isOpen())
        return;
    p->readAll();
    p->clear(QSerialPort::AllDirections);
}

void SerialPort::resync()
{
    qInfo().noquote() << "Resyncing (serial)";
    // The status query is dropped while a stream runs, like any command
    // but the stop.
    resynchronise(true);
    qInfo().noquote() << "Finished resyncing";
}

void SerialPort::run()
{
    auto *serial = new QSerialPort;
    createTrigger();
    setLinkState(Opening);
    disconnectReported = false;

    serial->setPortName(devicePath());
    serial->setBaudRate(linkParameter);
    serial->setFlowControl(QSerialPort::HardwareControl);
    serial->setDataBits(QSerialPort::Data8);
    serial->setParity(QSerialPort::NoParity);
    serial->setStopBits(QSerialPort::OneStop);
    if (!serial->open(QIODevice::ReadWrite)) {
        setLinkState(Failed);
        destroyTrigger();
        delete serial;
        threadBodyFinished();
        return;
    }

    attachDevice(serial);
    setLinkState(Connected);
    connect(serial, &QSerialPort::errorOccurred, this, &SerialPort::handleDisCon, Qt::DirectConnection);
    connectReader();
    clearInput();
    exec();

    disconnect(serial, &QSerialPort::errorOccurred, this, &SerialPort::handleDisCon);
    disconnectReader();
    QCoreApplication::processEvents();
    qInfo().noquote() << "Closing connection" << label();
    detachDevice();
    serial->close();
    destroyTrigger();
    delete serial;
    threadBodyFinished();
}

void SerialPort::handleDisCon()
{
    // Opening and clearing the port report NoError, and a wait for input
    // that ends without any (the quiet-line wait, resynchronisation) reports
    // TimeoutError; only a real error means the controller has gone. A port
    // that has gone keeps reporting errors until the loop ends, but the
    // notice goes out once.
    QSerialPort *p = port();
    if (!p || p->error() == QSerialPort::NoError || p->error() == QSerialPort::TimeoutError)
        return;
    if (disconnectReported.exchange(true))
        return;
    qInfo().noquote() << "Controller disconnected";
    emit hostDisconnected(portName);
    exit(0);
}
