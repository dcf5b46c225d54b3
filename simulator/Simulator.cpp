#include "Simulator.h"

#include "SimController.h"

#include <QMetaObject>
#include <QThread>

Simulator::Simulator()
    : m_thread(new QThread)
    , m_server(new SimServer)
{
    m_thread->setObjectName("simulator");
    m_server->moveToThread(m_thread);
    m_thread->start();
}

Simulator::~Simulator()
{
    // Stop serving and hand the server back to this thread before ending the
    // serving thread, so it can be deleted here.
    QThread *owner = QThread::currentThread();
    call([this, owner] {
        m_server->stop();
        m_server->moveToThread(owner);
        return 0;
    });
    m_thread->quit();
    m_thread->wait();
    delete m_server;
    delete m_thread;
}

template<typename F>
auto Simulator::call(F f) const -> decltype(f())
{
    using R = decltype(f());
    R result{};
    if (QThread::currentThread() == m_thread)
        return f();
    QMetaObject::invokeMethod(m_server, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

void Simulator::setDefaultConfig(const SimConfig &config)
{
    call([&] { m_server->setDefaultConfig(config); return 0; });
}

void Simulator::setDefaultFaults(const SimFaults &faults)
{
    call([&] { m_server->setDefaultFaults(faults); return 0; });
}

bool Simulator::start(quint16 basePort, int count, const QHostAddress &bind)
{
    return call([&] { return m_server->startTcp(bind, basePort, count); });
}

QStringList Simulator::startSerial(int count, const SerialOptions &options)
{
    return call([&] { return m_server->startSerial(count, options); });
}

void Simulator::stop()
{
    call([&] { m_server->stop(); return 0; });
}

int Simulator::count() const
{
    return call([&] { return m_server->count(); });
}

quint16 Simulator::port(int i) const
{
    return call([&] { return m_server->port(i); });
}

QString Simulator::serialPath(int i) const
{
    return call([&] { return m_server->serialPath(i); });
}

bool Simulator::hasClient(int i) const
{
    return call([&] { return m_server->hasClient(i); });
}

bool Simulator::isStreaming(int i) const
{
    return call([&] {
        const SimController *c = m_server->controller(i);
        return c ? c->isStreaming() : false;
    });
}

SimCounters Simulator::counters(int i) const
{
    return call([&] {
        const SimController *c = m_server->controller(i);
        return c ? c->counters() : SimCounters();
    });
}

QList<QByteArray> Simulator::commandLog(int i) const
{
    return call([&] {
        const SimController *c = m_server->controller(i);
        return c ? c->commandLog() : QList<QByteArray>();
    });
}

void Simulator::clearCommandLog(int i)
{
    call([&] {
        if (SimController *c = m_server->controller(i))
            c->clearCommandLog();
        return 0;
    });
}

QByteArray Simulator::identification(int i) const
{
    return call([&] {
        const SimController *c = m_server->controller(i);
        return c ? c->identification() : QByteArray();
    });
}

QByteArray Simulator::label(int i) const
{
    return call([&] {
        const SimController *c = m_server->controller(i);
        return c ? c->label() : QByteArray();
    });
}

SimConfig Simulator::config(int i) const
{
    return call([&] {
        const SimController *c = m_server->controller(i);
        return c ? c->config() : SimConfig();
    });
}

void Simulator::setConfig(int i, const SimConfig &config)
{
    call([&] {
        for (int k = 0; k < m_server->count(); ++k)
            if (i < 0 || k == i)
                m_server->controller(k)->setConfig(config);
        return 0;
    });
}

SimFaults Simulator::faults(int i) const
{
    return call([&] {
        const SimController *c = m_server->controller(i);
        return c ? c->faults() : SimFaults();
    });
}

void Simulator::setFaults(int i, const SimFaults &faults)
{
    call([&] {
        for (int k = 0; k < m_server->count(); ++k)
            if (i < 0 || k == i)
                m_server->controller(k)->setFaults(faults);
        return 0;
    });
}
