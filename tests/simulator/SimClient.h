#pragma once

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include <climits>

// Blocking TCP client for talking to a simulator that serves from another
// thread or process.
class SimClient
{
public:
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(3000);
    }

    // Sends cmd, then returns what read() returns.
    QByteArray exchange(const QByteArray &cmd, int expected = INT_MAX, int ms = 3000)
    {
        socket.write(cmd);
        socket.flush();
        return read(expected, ms);
    }

    // The first `expected` bytes, or what arrived within ms (the hang guard)
    // if fewer; read(INT_MAX, ms) collects everything that comes within ms.
    QByteArray read(int expected, int ms = 3000)
    {
        QDeadlineTimer deadline(ms);
        while (buffer.size() < expected && !deadline.hasExpired()
               && socket.state() == QAbstractSocket::ConnectedState)
            if (socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                buffer += socket.readAll();
        const QByteArray out = buffer.left(expected);
        buffer.remove(0, out.size());
        return out;
    }

    QTcpSocket socket;

private:
    QByteArray buffer;
};
