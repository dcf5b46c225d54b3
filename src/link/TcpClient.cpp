#include "link/TcpClient.h"

#include "link/CommandRelay.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

// A controller whose cable is pulled sends nothing, not even a reset: only
// keep-alive probes find out that it has gone, and the socket then reports
// the disconnect. Idle 10 s, then 3 probes 5 s apart.
void enableKeepAlive(QTcpSocket *socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const int fd = int(socket->socketDescriptor());
    const int idle = 10, interval = 5, probes = 3;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
#endif
}

} // namespace

TcpClient::TcpClient(QObject *parent) : Connection(parent) {}

TcpClient::~TcpClient()
{
    qInfo().noquote() << "Deleting TCP connection";
    stopLinkThread();
}

QString TcpClient::address() const
{
    return hostAddress.toString();
}

bool TcpClient::initialize(QString addressText, int portNumber)
{
    qInfo().noquote() << "Initializing TCP connection" << addressText;
    if (addressText.isEmpty() || portNumber >= 65536 || portNumber < 0)
        return false;
    QHostAddress parsed;
    if (!parsed.setAddress(addressText))
        return false; // host names are not accepted, only IP addresses
    hostAddress = parsed;
    port = portNumber;
    return true;
}

QTcpSocket *TcpClient::socket() const
{
    return static_cast<QTcpSocket *>(currentDevice());
}

void TcpClient::sendMessage(QByteArray message, int answerLength)
{
    Connection::sendMessage(message, answerLength);
    if (QTcpSocket *s = socket())
        s->flush();
}

void TcpClient::clearInput()
{
    QTcpSocket *s = socket();
    if (s && s->isOpen())
        s->readAll();
}

void TcpClient::resync()
{
    qInfo().noquote() << "Resyncing (TCP)";
    resynchronise(!isStreaming());
    qInfo().noquote() << "Finished resyncing (TCP)";
}

void TcpClient::run()
{
    setLinkState(Opening);
    connectTimedOut = false;
    auto *tcp = new QTcpSocket;
    createTrigger();
    connect(tcp, &QTcpSocket::connected, this, &TcpClient::firstTalk, Qt::DirectConnection);
    connect(tcp, &QTcpSocket::disconnected, this, &TcpClient::handleDisCon, Qt::DirectConnection);
    attachDevice(tcp);

    connectTimer = new QTimer;
    connectTimer->setSingleShot(true);
    connect(connectTimer, &QTimer::timeout, this, &TcpClient::checkConnection, Qt::DirectConnection);
    connectTimer->start(timeout);

    tcp->connectToHost(hostAddress, quint16(port), QIODevice::ReadWrite);
    exec();

    disconnect(tcp, &QTcpSocket::disconnected, this, &TcpClient::handleDisCon);
    disconnectReader();
    disconnect(tcp, &QTcpSocket::connected, this, &TcpClient::firstTalk);
    qInfo().noquote() << "Closing connection" << label();
    tcp->disconnectFromHost();
    QCoreApplication::processEvents();
    detachDevice();
    delete connectTimer;
    connectTimer = nullptr;
    destroyTrigger();
    delete tcp;
    threadBodyFinished();
}

void TcpClient::firstTalk()
{
    // The connect time-out and the connection can come in one event batch:
    // once the time-out has ended the link, a late connection is ignored.
    if (connectTimedOut)
        return;
    connectTimer->stop();
    disconnect(connectTimer, &QTimer::timeout, this, &TcpClient::checkConnection);
    // Short commands and 25-byte messages must not wait for Nagle's algorithm.
    socket()->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    enableKeepAlive(socket());
    attachDevice(socket()); // now open
    setLinkState(Connected);
    connectReader();
    clearInput();
}

void TcpClient::checkConnection()
{
    connectTimedOut = true;
    disconnect(connectTimer, &QTimer::timeout, this, &TcpClient::checkConnection);
    if (QTcpSocket *s = socket())
        disconnect(s, &QTcpSocket::connected, this, &TcpClient::firstTalk);
    exit(0); // linkState stays Opening
}

void TcpClient::handleDisCon()
{
    qInfo().noquote() << "Controller disconnected";
    emit hostDisconnected(address());
    exit(0);
}
