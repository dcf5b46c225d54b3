#pragma once

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>

// Plain blocking TCP client for talking to an embedded simulator from the
// test thread (the simulator serves from its own thread).
class SimClient
{
public:
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(3000);
    }

    // Sends cmd and collects until at least `expected` bytes arrived or the
    // hang guard expires; returns everything received.
    QByteArray exchange(const QByteArray &cmd, int expected, int guardMs = 3000)
    {
        socket.write(cmd);
        socket.flush();
        return readAtLeast(expected, guardMs);
    }

    QByteArray readAtLeast(int expected, int guardMs = 3000)
    {
        QDeadlineTimer deadline(guardMs);
        while (buffer.size() < expected && !deadline.hasExpired()) {
            if (socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                buffer += socket.readAll();
            else if (socket.state() != QAbstractSocket::ConnectedState)
                break;
        }
        return take(expected);
    }

    // Everything that arrives within ms (used to show that nothing comes).
    QByteArray readFor(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired())
            if (socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                buffer += socket.readAll();
        return take(buffer.size());
    }

    QTcpSocket socket;

private:
    QByteArray take(int n)
    {
        const QByteArray out = buffer.left(qMax(n, 0));
        buffer.remove(0, out.size());
        return out;
    }
    QByteArray buffer;
};
