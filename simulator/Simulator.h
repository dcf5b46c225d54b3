#pragma once

#include "SimConfig.h"
#include "SimServer.h"

#include <QHostAddress>
#include <QList>
#include <QStringList>

class QThread;

// Simulated controllers served from their own thread, for embedding in tests
// and tools. Every public function is thread-safe and may be called from any
// thread other than the serving one; calls are carried out in the serving
// thread and wait for it.
//
//   Simulator sim;
//   sim.setDefaultConfig(cfg);          // before start: applies to all controllers
//   sim.start(0, 2);                    // two controllers on free loopback ports
//   QTcpSocket s; s.connectToHost(QHostAddress::LocalHost, sim.port(0));
class Simulator
{
public:
    Simulator();
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    void setDefaultConfig(const SimConfig &config);
    void setDefaultFaults(const SimFaults &faults);

    // basePort 0 = any free port per controller, else consecutive ports from basePort.
    bool start(quint16 basePort = 0, int count = 1,
               const QHostAddress &bind = QHostAddress(QHostAddress::LocalHost));
    // One pseudo-terminal per controller; returns the slave device paths (empty on failure).
    QStringList startSerial(int count, const SerialOptions &options = SerialOptions());
    void stop();

    int count() const;
    quint16 port(int i) const;
    QString serialPath(int i) const;
    bool hasClient(int i) const;
    bool isStreaming(int i) const;

    SimCounters counters(int i) const;
    QList<QByteArray> commandLog(int i) const;
    void clearCommandLog(int i);
    QByteArray identification(int i) const;
    QByteArray label(int i) const;
    // Settings of stage index s (0 or 1) of controller i.
    SimStageState stageState(int i, int s) const;

    SimConfig config(int i) const;
    void setConfig(int i, const SimConfig &config);      // i < 0: every controller
    SimFaults faults(int i) const;
    void setFaults(int i, const SimFaults &faults);      // i < 0: every controller

private:
    template<typename F>
    auto call(F f) const -> decltype(f());

    QThread *m_thread;
    SimServer *m_server;
};
