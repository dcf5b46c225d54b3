#pragma once

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include <climits>

// Blocking client for a simulator in another thread or process, over TCP or a given device.
class SimClient
{
public:
    explicit SimClient(QIODevice *device = nullptr) : device(device ? device : &socket) {}

    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(3000);
    }

    // Sends cmd; returns the first `expected` bytes or, if fewer, what came within ms.
    QByteArray exchange(const QByteArray &cmd, int expected = INT_MAX, int ms = 3000)
    {
        device->write(cmd);
        QDeadlineTimer deadline(ms);
        while (buffer.size() < expected && !deadline.hasExpired())
            if (device->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                buffer += device->readAll();
        const QByteArray out = buffer.left(expected);
        buffer.remove(0, out.size());
        return out;
    }

    QTcpSocket socket;

private:
    QIODevice *device;
    QByteArray buffer;
};
