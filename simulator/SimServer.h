#pragma once

#include "SimConfig.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <memory>
#include <vector>

class PtyPort;
class QTcpServer;
class QTcpSocket;
class QTimer;
class SimController;

// Line settings a serial controller insists on; 0 / -1 = anything.
struct SerialOptions
{
    int baud = 0;          // answer only at this baud rate (SBR moves it to the new rate)
    int flow = -1;         // answer only with (1) or without (0) hardware flow control
    QString linkPath;      // optional symlink; see SimServer::linkPathFor
    // The controller does not notice the port being closed: a running stream
    // goes on (its output is lost while nobody listens) and is still running
    // when the port is opened again, as after a crash of the application.
    bool keepStreamOnHangUp = false;
};

// Serves a set of simulated controllers from the thread it lives in: a TCP
// listener or a pseudo-terminal per controller, and one precise 1 ms timer
// that drives the streams of all of them.
//
// TCP: one client per controller; a new connection replaces the previous one,
// which is closed. When a client goes away the controller stops streaming.
// Not thread-safe: use it from its own thread (Simulator wraps it for that).
class SimServer : public QObject
{
    Q_OBJECT
public:
    explicit SimServer(QObject *parent = nullptr);
    ~SimServer() override;

    void setDefaultConfig(const SimConfig &config) { m_defaultConfig = config; }
    void setDefaultFaults(const SimFaults &faults) { m_defaultFaults = faults; }

    // basePort 0 = any free port per controller; otherwise basePort + i.
    bool startTcp(const QHostAddress &bind, quint16 basePort, int count);
    // Returns the slave device paths, empty on failure.
    QStringList startSerial(int count, const SerialOptions &options);
    void stop();

    // Controllers are numbered in the order they were started; accessors
    // return 0 / empty / nullptr for an index that does not exist.
    int count() const { return int(m_endpoints.size()); }
    quint16 port(int i) const;
    QString serialPath(int i) const;
    SimController *controller(int i) const;
    // The controller's counters with those of its transport filled in.
    SimCounters counters(int i) const;
    bool hasClient(int i) const;

    // For N > 1 controllers a trailing number of the name is the first index
    // (ttyUSB0 -> ttyUSB0, ttyUSB1, ...); without one the index is appended.
    static QString linkPathFor(const QString &pattern, int index, int count);

private:
    struct Endpoint;
    void acceptClient(Endpoint *e);
    void tick();
    qint64 now() const { return m_clock.elapsed(); }
    Endpoint *addEndpoint();
    Endpoint *endpoint(int i) const;

    SimConfig m_defaultConfig;
    SimFaults m_defaultFaults;
    std::vector<std::unique_ptr<Endpoint>> m_endpoints;
    QStringList m_links;
    QTimer *m_timer = nullptr;
    QElapsedTimer m_clock;
};
