#include "SocketPairConnection.h"

#include <QElapsedTimer>
#include <QLocalSocket>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

SocketPairConnection::SocketPairConnection()
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
        linkFd = fds[0];
        controllerFd = fds[1];
    }
}

SocketPairConnection::~SocketPairConnection()
{
    stopLinkThread();
    if (controllerFd >= 0)
        ::close(controllerFd);
}

bool SocketPairConnection::open()
{
    start();
    QElapsedTimer timer;
    timer.start();
    while (linkState() != Connected && timer.elapsed() < 5000)
        QThread::msleep(1);
    return linkState() == Connected;
}

void SocketPairConnection::run()
{
    setLinkState(Opening);
    auto *socket = new QLocalSocket;
    createTrigger();
    // The socket takes the descriptor over and closes it on deletion.
    if (!socket->setSocketDescriptor(linkFd)) {
        setLinkState(Failed);
        destroyTrigger();
        delete socket;
        return;
    }
    linkFd = -1;
    attachDevice(socket);
    setLinkState(Connected);
    connectReader();
    exec();
    disconnectReader();
    detachDevice();
    destroyTrigger();
    delete socket;
    threadBodyFinished();
}

void SocketPairConnection::sendMessage(QByteArray message, int answerLength)
{
    Connection::sendMessage(message, answerLength);
    if (auto *socket = qobject_cast<QLocalSocket *>(currentDevice()))
        socket->flush();
}

void SocketPairConnection::clearInput()
{
    if (QIODevice *dev = currentDevice())
        dev->readAll();
}

void SocketPairConnection::controllerWrite(const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(controllerFd, data, size_t(left));
        if (n <= 0)
            return;
        data += n;
        left -= n;
    }
}

QByteArray SocketPairConnection::controllerRead(int count, int timeoutMs)
{
    QByteArray result;
    QElapsedTimer timer;
    timer.start();
    while (result.size() < count) {
        const int left = timeoutMs - int(timer.elapsed());
        if (left <= 0)
            break;
        pollfd p{controllerFd, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            break;
        char buffer[512];
        const ssize_t n = ::read(controllerFd, buffer, size_t(qMin<int>(count - result.size(), sizeof buffer)));
        if (n <= 0)
            break;
        result.append(buffer, int(n));
    }
    return result;
}

QByteArray SocketPairConnection::controllerDrain(int timeoutMs)
{
    QByteArray result;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const int left = timeoutMs - int(timer.elapsed());
        if (left <= 0)
            break;
        pollfd p{controllerFd, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            break;
        char buffer[512];
        const ssize_t n = ::read(controllerFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.append(buffer, int(n));
    }
    return result;
}
