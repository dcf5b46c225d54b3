#include "LoadRun.h"

#include "SequenceTracker.h"

#include "link/Identification.h"
#include "link/SerialPort.h"
#include "link/TcpClient.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <ctime>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

long contextSwitchesOfProcess()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

double cpuMsOfProcess()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

QByteArray rateArguments(int rate)
{
    return QByteArray("\x00\x00", 2) + char(rate >> 8) + char(rate & 0xFF) + ';';
}

} // namespace

void stopSimulator(QProcess &sim)
{
    if (sim.state() == QProcess::NotRunning)
        return;
    sim.terminate();
    if (!sim.waitForFinished(5000)) {
        sim.kill();
        sim.waitForFinished(2000);
    }
}

namespace {

bool waitUntilConnected(Connection &link)
{
    QElapsedTimer timer;
    timer.start();
    while (link.linkState() != Connection::Connected && !link.isFinished() && timer.elapsed() < 5000)
        QThread::msleep(1);
    return link.linkState() == Connection::Connected;
}

} // namespace

// Reads the endpoints the simulator prints ("tcp <i> <addr>:<port>" or
// "serial <i> <device> <link>" per controller, then "ready").
bool startSimulator(QProcess &sim, const LoadOptions &options, const QString &linkDirectory,
                    QStringList &endpoints, QString &error)
{
    sim.setProgram(options.simulatorPath);
    QStringList arguments{"--bench", "--count", QString::number(options.controllers)};
    if (options.serial)
        arguments << "--serial" << "--serial-link" << linkDirectory + "/ttyUSB0";
    else
        arguments << "--port" << "0";
    sim.setArguments(arguments);
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    if (!sim.waitForStarted(5000)) {
        error = "cannot start " + options.simulatorPath;
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (!sim.canReadLine() && !sim.waitForReadyRead(200)) {
            if (sim.state() != QProcess::Running)
                break;
            continue;
        }
        while (sim.canReadLine()) {
            const QString line = QString::fromLatin1(sim.readLine()).trimmed();
            if (line == "ready")
                return endpoints.size() == options.controllers;
            const QStringList parts = line.split(' ');
            if (parts.size() == 3 && parts[0] == "tcp")
                endpoints << parts[2].section(':', -1);
            else if (parts.size() == 4 && parts[0] == "serial")
                endpoints << parts[3];
        }
    }
    error = "the simulator did not get ready";
    return false;
}

uint64_t realtimeMicros64()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

int32_t sendToStoreMicros(const StreamSample &sample, uint64_t nowMicros)
{
    // Both stamps are truncated clock words; rebuild them as the values
    // nearest to now (the sample is seconds old at most).
    const uint64_t nowMs = nowMicros / 1000;
    const int64_t arrivalMs = int64_t(nowMs) - int64_t(uint32_t(uint32_t(nowMs) - uint32_t(sample.time)));
    const int64_t sentMicros = int64_t(nowMicros)
                               - int64_t(uint32_t(uint32_t(nowMicros) - SequenceTracker::sendTimeOf(sample)));
    return int32_t((arrivalMs + 1) * 1000 - sentMicros);
}

double percentileMs(std::vector<int32_t> &sorted, double fraction)
{
    if (sorted.empty())
        return 0;
    const size_t index = std::min(sorted.size() - 1, size_t(fraction * double(sorted.size() - 1) + 0.5));
    return sorted[index] / 1000.0;
}

LoadResult runLoad(const LoadOptions &options)
{
    LoadResult result;
    result.controllers = options.controllers;
    const int k = options.controllers;

    QProcess sim;
    QStringList endpoints;
    QTemporaryDir linkDirectory;
    if (!startSimulator(sim, options, linkDirectory.path(), endpoints, result.error)) {
        stopSimulator(sim);
        return result;
    }

    std::vector<std::unique_ptr<Connection>> links;
    for (int i = 0; i < k; ++i) {
        std::unique_ptr<Connection> link;
        if (options.serial) {
            auto port = std::make_unique<SerialPort>();
            port->setDeviceDirectory(linkDirectory.path());
            port->initialize(QFileInfo(endpoints[i]).fileName(), 921600);
            link = std::move(port);
        } else {
            link = std::make_unique<TcpClient>();
            link->initialize("127.0.0.1", endpoints[i].toInt());
        }
        if (options.batchMs >= 0)
            link->setStreamBatchInterval(options.batchMs);
        QObject::connect(link.get(), &Connection::hostDisconnected, &sim, [&result] { ++result.disconnects; });
        link->start();
        links.push_back(std::move(link));
    }
    for (int i = 0; i < k; ++i) {
        if (!waitUntilConnected(*links[i])) {
            result.error = QString("controller %1 did not connect").arg(i);
            links.clear();
            stopSimulator(sim);
            return result;
        }
    }

    // Identification waits for two unanswered stop commands per controller;
    // the controllers are identified side by side to keep that to seconds.
    std::vector<int> identified(size_t(k), 0);
    {
        std::vector<std::thread> workers;
        for (int i = 0; i < k; ++i)
            workers.emplace_back([&, i] { identified[size_t(i)] = identifyController(*links[size_t(i)]).valid; });
        for (std::thread &worker : workers)
            worker.join();
    }
    for (int i = 0; i < k; ++i) {
        if (!identified[size_t(i)]) {
            result.error = QString("controller %1: System identification failed").arg(i);
            links.clear();
            stopSimulator(sim);
            return result;
        }
    }

    const int expected = int(options.seconds * options.rate * 1.2) + 1000;
    std::vector<SequenceTracker> trackers(static_cast<size_t>(k), SequenceTracker{expected});
    std::vector<int32_t> storeDelays;
    storeDelays.reserve(size_t(expected) * size_t(k));
    std::vector<StreamSample> taken(1040);
    bool measuring = false;
    auto drain = [&](int limit) {
        for (int i = 0; i < k; ++i) {
            Connection &link = *links[size_t(i)];
            if (limit > 0)
                result.maxFill = std::max(result.maxFill, link.storedSamples());
            SequenceTracker &tracker = trackers[size_t(i)];
            const int count = link.takeSamples(taken.data(), limit > 0 ? limit : int(taken.size()));
            const uint64_t nowMicros = realtimeMicros64();
            for (int n = 0; n < count; ++n) {
                tracker.add(taken[size_t(n)], uint32_t(nowMicros), limit > 0);
                if (limit > 0)
                    storeDelays.push_back(sendToStoreMicros(taken[size_t(n)], nowMicros));
            }
            if (measuring)
                result.windowSamples += count;
            if (limit <= 0 && count == int(taken.size()))
                --i; // more left: the final drain takes everything
        }
    };

    QByteArray reply;
    for (int i = 0; i < k; ++i) {
        links[size_t(i)]->setSamplingRate(options.rate);
        links[size_t(i)]->startStream(rateArguments(options.rate));
        if (!links[size_t(i)]->waitForReply(reply) || !links[size_t(i)]->isStreaming()) {
            result.error = QString("controller %1: the stream did not start").arg(i);
            break;
        }
    }

    // The starved phase: no draining, and every core kept busy.
    bool starving = false;
    std::atomic<bool> spin{false};
    std::vector<std::thread> spinners;
    auto starve = [&](bool on) {
        starving = on;
        spin = on;
        if (on) {
            const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
            for (unsigned c = 0; c < cores; ++c)
                spinners.emplace_back([&spin] {
                    volatile uint64_t x = 0;
                    while (spin.load(std::memory_order_relaxed))
                        x = x + 1;
                });
        } else {
            for (std::thread &t : spinners)
                t.join();
            spinners.clear();
        }
    };

    if (result.error.isEmpty()) {
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (!starving)
                drain(options.samplesPerTick);
        });
        if (options.starveMs > 0) {
            QTimer::singleShot(1000, [&] { starve(true); });
            QTimer::singleShot(1000 + options.starveMs, [&] { starve(false); });
        }
        QTimer::singleShot(int(options.seconds * 1000), &loop, &QEventLoop::quit);
        measuring = true;
        const double cpuBefore = cpuMsOfProcess();
        const long switchesBefore = contextSwitchesOfProcess();
        tick.start(options.tickMs);
        loop.exec();
        tick.stop();
        result.cpuMs = cpuMsOfProcess() - cpuBefore;
        result.contextSwitches = contextSwitchesOfProcess() - switchesBefore;
        measuring = false;
    }

    // Stop every stream: post all stops first so no link streams on while
    // another one's confirmation is awaited.
    for (auto &link : links)
        link->clearLiveStream();
    for (auto &link : links) {
        if (!link->waitForReply(reply) || reply != QByteArray("\x00;", 2)) {
            link->clearLiveStream();
            link->waitForReply(reply);
        }
        if (link->isStreaming())
            ++result.stillStreaming;
    }
    if (starving)
        starve(false);
    drain(0);
    for (auto &link : links) {
        result.dropped += link->droppedSamples();
        link->disconnectLink();
    }
    links.clear();
    stopSimulator(sim);

    std::vector<int32_t> delays;
    for (const SequenceTracker &tracker : trackers) {
        result.sent += tracker.highest();
        result.received += tracker.received();
        result.lost += tracker.lost();
        result.duplicated += tracker.duplicates();
        result.outOfOrder += tracker.outOfOrder();
        delays.insert(delays.end(), tracker.delays().begin(), tracker.delays().end());
    }
    std::sort(delays.begin(), delays.end());
    result.delayMedianMs = percentileMs(delays, 0.5);
    result.delayP99Ms = percentileMs(delays, 0.99);
    result.delayMaxMs = delays.empty() ? 0 : delays.back() / 1000.0;
    std::sort(storeDelays.begin(), storeDelays.end());
    result.storeMedianMs = percentileMs(storeDelays, 0.5);
    result.storeP99Ms = percentileMs(storeDelays, 0.99);
    result.storeMaxMs = storeDelays.empty() ? 0 : storeDelays.back() / 1000.0;
    result.ok = result.error.isEmpty();
    return result;
}
