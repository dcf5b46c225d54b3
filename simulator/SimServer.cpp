#include "SimServer.h"

#include "PtyPort.h"
#include "SimController.h"

#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

struct SimServer::Endpoint
{
    std::unique_ptr<SimController> controller;
    QTcpServer *server = nullptr;
    QTcpSocket *client = nullptr;
    qint64 connectedAtMs = 0;
    PtyPort *pty = nullptr;
};

SimServer::SimServer(QObject *parent)
    : QObject(parent)
{
    m_clock.start();
}

SimServer::~SimServer()
{
    stop();
}

SimServer::Endpoint *SimServer::addEndpoint()
{
    auto e = std::make_unique<Endpoint>();
    e->controller = std::make_unique<SimController>(int(m_endpoints.size()), m_defaultConfig);
    e->controller->setFaults(m_defaultFaults);
    m_endpoints.push_back(std::move(e));
    if (!m_timer) {
        m_timer = new QTimer(this);
        m_timer->setTimerType(Qt::PreciseTimer);
        m_timer->setInterval(1);
        connect(m_timer, &QTimer::timeout, this, &SimServer::tick);
        m_timer->start();
    }
    return m_endpoints.back().get();
}

bool SimServer::startTcp(const QHostAddress &bind, quint16 basePort, int count)
{
    for (int i = 0; i < count; ++i) {
        Endpoint *e = addEndpoint();
        e->server = new QTcpServer(this);
        const quint16 port = basePort == 0 ? 0 : quint16(basePort + i);
        if (!e->server->listen(bind, port)) {
            qWarning().noquote() << "Cannot listen on" << bind.toString() << port << ":"
                                 << e->server->errorString();
            stop();
            return false;
        }
        connect(e->server, &QTcpServer::newConnection, this, [this, e] { acceptClient(e); });
        e->controller->setOutput([e](const char *data, int size) {
            if (e->client)
                e->client->write(data, size);
        });
    }
    return true;
}

void SimServer::acceptClient(Endpoint *e)
{
    while (QTcpSocket *socket = e->server->nextPendingConnection()) {
        if (e->client) {
            // The newest client wins; the old one is closed.
            QTcpSocket *old = e->client;
            e->client = nullptr;
            old->disconnect(this);
            old->abort();
            old->deleteLater();
            e->controller->resetLink();
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        e->client = socket;
        e->connectedAtMs = now();
        connect(socket, &QTcpSocket::readyRead, this, [this, e, socket] {
            const QByteArray data = socket->readAll();
            e->controller->receive(data.constData(), data.size(), now());
        });
        connect(socket, &QTcpSocket::disconnected, this, [e, socket] {
            if (e->client == socket) {
                e->client = nullptr;
                e->controller->resetLink();
            }
            socket->deleteLater();
        });
    }
}

QString SimServer::linkPathFor(const QString &pattern, int index, int count)
{
    if (count == 1)
        return pattern;
    static const QRegularExpression trailing("^(.*?)(\\d+)$");
    const QRegularExpressionMatch m = trailing.match(pattern);
    if (m.hasMatch())
        return m.captured(1) + QString::number(m.captured(2).toInt() + index);
    return pattern + QString::number(index);
}

QStringList SimServer::startSerial(int count, const SerialOptions &options)
{
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        Endpoint *e = addEndpoint();
        e->pty = new PtyPort(this);
        if (!e->pty->open()) {
            qWarning().noquote() << "Cannot open a pseudo-terminal";
            stop();
            return {};
        }
        e->pty->setRequiredLine(options.baud, options.flow);
        PtyPort *pty = e->pty;
        SimController *ctl = e->controller.get();
        ctl->setOutput([pty](const char *data, int size) { pty->write(data, size); });
        connect(pty, &PtyPort::bytesReceived, this, [this, pty, ctl](const QByteArray &data) {
            // A controller set to other line settings does not understand a word.
            if (pty->lineMatches())
                ctl->receive(data.constData(), data.size(), now());
        });
        if (!options.keepStreamOnHangUp)
            connect(pty, &PtyPort::hungUp, this, [ctl] { ctl->resetLink(); });
        // A controller bound to one baud rate follows SBR to the new one.
        if (options.baud > 0)
            ctl->setBaudRateHandler([pty, options](int baud) { pty->setRequiredLine(baud, options.flow); });
        paths << pty->slavePath();
        if (!options.linkPath.isEmpty()) {
            const QString link = linkPathFor(options.linkPath, i, count);
            QFile::remove(link);
            if (!QFile::link(pty->slavePath(), link)) {
                qWarning().noquote() << "Cannot create link" << link;
                stop();
                return {};
            }
            m_links << link;
        }
    }
    return paths;
}

void SimServer::stop()
{
    for (auto &e : m_endpoints) {
        e->controller->setOutput({});
        if (e->client) {
            e->client->disconnect(this);
            e->client->abort();
            delete e->client;
        }
        delete e->server;
        delete e->pty;
    }
    m_endpoints.clear();
    for (const QString &link : m_links)
        QFile::remove(link);
    m_links.clear();
    delete m_timer;
    m_timer = nullptr;
}

SimServer::Endpoint *SimServer::endpoint(int i) const
{
    return i >= 0 && i < count() ? m_endpoints[size_t(i)].get() : nullptr;
}

quint16 SimServer::port(int i) const
{
    const Endpoint *e = endpoint(i);
    return e && e->server ? e->server->serverPort() : 0;
}

QString SimServer::serialPath(int i) const
{
    const Endpoint *e = endpoint(i);
    return e && e->pty ? e->pty->slavePath() : QString();
}

SimController *SimServer::controller(int i) const
{
    const Endpoint *e = endpoint(i);
    return e ? e->controller.get() : nullptr;
}

SimCounters SimServer::counters(int i) const
{
    const Endpoint *e = endpoint(i);
    if (!e)
        return SimCounters();
    SimCounters c = e->controller->counters();
    if (e->pty) {
        c.bytesNotDelivered = e->pty->bytesNotDelivered();
        c.bytesDropped = e->pty->bytesDropped();
    }
    return c;
}

bool SimServer::hasClient(int i) const
{
    const Endpoint *e = endpoint(i);
    return e && e->client;
}

void SimServer::tick()
{
    const qint64 t = now();
    for (auto &e : m_endpoints) {
        const int closeAfter = e->controller->faults().closeAfterMs;
        if (e->client && closeAfter > 0 && t - e->connectedAtMs >= closeAfter) {
            QTcpSocket *socket = e->client;
            e->client = nullptr;
            e->controller->resetLink();
            socket->disconnectFromHost();
            socket->deleteLater();
            continue;
        }
        if (e->client || e->pty)
            e->controller->tick(t);
    }
}
