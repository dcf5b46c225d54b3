#include "Simulator.h"

#include "SimController.h"

#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

// ThreadSanitizer cannot see that Qt's blocking queued call orders the
// caller and the serving thread (it waits on a futex in uninstrumented
// code); these annotations say so. They are empty in other builds.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void *address);
extern "C" void __tsan_release(void *address);
#define SIM_TSAN_ACQUIRE(a) __tsan_acquire(a)
#define SIM_TSAN_RELEASE(a) __tsan_release(a)
#else
#define SIM_TSAN_ACQUIRE(a) ((void)(a))
#define SIM_TSAN_RELEASE(a) ((void)(a))
#endif

Simulator::Simulator()
    : m_thread(new QThread)
    , m_server(new SimServer)
{
    m_thread->setObjectName("simulator");
    m_server->moveToThread(m_thread);
    QThread *thread = m_thread;
    QObject::connect(m_thread, &QThread::finished, [thread] { SIM_TSAN_RELEASE(thread); });
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
    SIM_TSAN_ACQUIRE(m_thread);
    delete m_server;
    delete m_thread;
}

template<typename F>
auto Simulator::call(F f) const -> decltype(f())
{
    using R = decltype(f());
    if (QThread::currentThread() == m_thread)
        return f();
    // Queued call plus a standard condition variable rather than Qt's
    // blocking queued call: the waiting is then visible to ThreadSanitizer,
    // and the serving thread never touches the caller's stack after f.
    struct Done
    {
        std::mutex mutex;
        std::condition_variable signal;
        bool finished = false;
        R result{};
    };
    auto done = std::make_shared<Done>();
    SIM_TSAN_RELEASE(done.get()); // f may refer to the caller's variables
    const bool posted = QMetaObject::invokeMethod(
        m_server,
        [done, f]() mutable {
            SIM_TSAN_ACQUIRE(done.get());
            R value = f();
            std::lock_guard<std::mutex> lock(done->mutex);
            done->result = std::move(value);
            done->finished = true;
            done->signal.notify_all();
        },
        Qt::QueuedConnection);
    if (!posted)
        return R{};
    std::unique_lock<std::mutex> lock(done->mutex);
    done->signal.wait(lock, [&] { return done->finished; });
    return done->result;
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
    return call([&] { return m_server->counters(i); });
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

SimStageState Simulator::stageState(int i, int s) const
{
    return call([&] {
        const SimController *c = m_server->controller(i);
        return c ? c->stageState(s) : SimStageState();
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
