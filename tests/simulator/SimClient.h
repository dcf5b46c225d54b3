#pragma once

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include <climits>

// A string literal with its 0x00 bytes.
template<size_t N> QByteArray raw(const char (&s)[N]) { return QByteArray(s, int(N - 1)); }
inline const QByteArray ok = raw("\x00;");
inline quint32 u16(const QByteArray &b, int i) { return quint32(quint8(b[i])) << 8 | quint8(b[i + 1]); }
// A stream start command with no options at this rate.
inline QByteArray startCmd(const char *code, int rate) { return code + raw("\x00\x00") + char(rate >> 8) + char(rate) + ';'; }

// Blocking client for a simulator in another thread or process, over TCP or a given device.
class SimClient
{
public:
    explicit SimClient(QIODevice *device = nullptr) : device(device ? device : &socket) {}

    bool connectTo(quint16 port) { socket.connectToHost(QHostAddress::LocalHost, port); return socket.waitForConnected(3000); }
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
