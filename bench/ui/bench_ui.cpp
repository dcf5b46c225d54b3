// What the user feels: the real main window (offscreen) and the real
// start-up path, with controllers served by separate beamstab-sim processes.
//
//   bench_ui [--seconds 10] [--controllers 1,10,50] [--startup 10,50] [--only latency|startup]
//
// Latency rows: a 5 ms timer on the user-interface thread records how late
// each timeout fires (p50, p99, max) while K controllers are connected,
// (a) idle (acquisition stopped: the window polls their status) and (b)
// streaming at 500 Hz. Among the K there is one controller that answers
// 700 ms late, one that answers nothing and one whose simulator is stopped
// during the run (with K = 1 each of the three is its own row).
//
// Start-up rows: K auto-connect controllers in the default setup file of a
// fresh per-user directory; the time from constructing the main window to
// its first paint, and to every controller being shown as connected.
//
// Every row runs in a child process of this program with a cap: a window
// that freezes ends the row at the cap, and the row reports that it did.

#include "app/StartupFlags.h"
#include "controller/Controller.h"
#include "display/LinkedSpinBox.h"
#include "display/MainToolBar.h"
#include "display/MainWindow.h"
#include "link/Identification.h"
#include "link/TcpClient.h"
#include "setup/ConnectionSettings.h"
#include "setup/Settings.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int tickMs = 5;
constexpr int setupCapSeconds = 25; // connecting, identifying and the hand-over of a row

QString loopback(int i)
{
    return QStringLiteral("127.0.0.%1").arg(i + 1);
}

// ---------------------------------------------------------------- simulators

struct SimProcess
{
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    QList<quint16> ports;
};

bool startSimulator(SimProcess &sim, int count, const QStringList &extra, int lifetimeSeconds)
{
    QProcess &p = *sim.process;
    p.setProgram(QStringLiteral(BEAMSTAB_SIM_PATH));
    // The simulator ends by itself after the row's cap, even when this
    // process is killed.
    p.setArguments(QStringList{"--bench", "--count", QString::number(count), "--port", "0", "--bind", "0.0.0.0",
                               "--duration", QString::number(lifetimeSeconds)}
                   + extra);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start();
    if (!p.waitForStarted(5000))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (!p.canReadLine() && !p.waitForReadyRead(200))
            continue;
        while (p.canReadLine()) {
            const QString line = QString::fromLatin1(p.readLine()).trimmed();
            if (line == QLatin1String("ready"))
                return sim.ports.size() == count;
            const QStringList parts = line.split(' ');
            if (parts.size() == 3 && parts[0] == QLatin1String("tcp"))
                sim.ports << quint16(parts[2].section(':', -1).toUInt());
        }
    }
    return false;
}

void stopSimulator(SimProcess &sim)
{
    if (sim.process->state() == QProcess::NotRunning)
        return;
    sim.process->terminate();
    if (!sim.process->waitForFinished(3000))
        sim.process->kill();
    sim.process->waitForFinished(2000);
}

// ---------------------------------------------------------------- figures

// Lateness samples of the 5 ms timer, readable by the watchdog.
class Lateness
{
public:
    void start()
    {
        std::lock_guard<std::mutex> lock(mutex);
        clock.start();
        last = 0;
        running = true;
    }
    void fired()
    {
        std::lock_guard<std::mutex> lock(mutex);
        const qint64 now = clock.nsecsElapsed();
        samples.push_back(std::max<qint64>(0, now - last - qint64(tickMs) * 1000000));
        last = now;
    }
    // "p50 p99 max count" in ms; a timeout still outstanding counts with its
    // lateness so far.
    QString summary()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<qint64> all = samples;
        if (running && clock.isValid())
            all.push_back(std::max<qint64>(0, clock.nsecsElapsed() - last - qint64(tickMs) * 1000000));
        if (all.empty())
            return QStringLiteral("-1 -1 -1 0");
        std::sort(all.begin(), all.end());
        auto at = [&](double q) { return all[std::min(all.size() - 1, size_t(double(all.size()) * q))] / 1e6; };
        return QStringLiteral("%1 %2 %3 %4").arg(at(0.5), 0, 'f', 2).arg(at(0.99), 0, 'f', 2).arg(all.back() / 1e6, 0, 'f', 2).arg(all.size());
    }
    void stop()
    {
        std::lock_guard<std::mutex> lock(mutex);
        running = false;
    }

private:
    std::mutex mutex;
    QElapsedTimer clock;
    qint64 last = 0;
    bool running = false;
    std::vector<qint64> samples;
};

// Prints the row's result once: at its end, or from the watchdog at the cap
// (then the process ends at once, without tearing the frozen window down).
class Outcome
{
public:
    explicit Outcome(std::function<QString()> figures) : figures(std::move(figures)) {}
    void finish(const QString &status)
    {
        if (printed.exchange(true))
            return;
        std::printf("RESULT %s %s\n", qPrintable(status), qPrintable(figures()));
        std::fflush(stdout);
    }
    void armWatchdog(int seconds)
    {
        std::thread([this, seconds] {
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            if (printed.load())
                return;
            finish(QStringLiteral("cap"));
            std::_Exit(3);
        }).detach();
    }

private:
    std::function<QString()> figures;
    std::atomic<bool> printed{false};
};

// Runs the event loop for the given time.
void run(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// ---------------------------------------------------------------- latency row

struct Served
{
    QString address;
    quint16 port;
    QString label;
};

// Connects and identifies every controller off the user-interface thread
// (a controller that answers nothing stays connected, unidentified) and
// hands them to the window, as the connection dialog would.
void handOver(MainWindow &window, const std::vector<Served> &served)
{
    std::vector<TcpClient *> links;
    for (const Served &s : served) {
        auto *link = new TcpClient;
        link->initialize(s.address, s.port);
        link->setLabel(s.label);
        link->start();
        links.push_back(link);
    }
    std::vector<std::thread> workers;
    for (TcpClient *link : links)
        workers.emplace_back([link] {
            QElapsedTimer t;
            t.start();
            while (link->linkState() != Connection::Connected && t.elapsed() < 10000)
                QThread::msleep(1);
            if (link->linkState() == Connection::Connected)
                identifyController(*link);
        });
    for (std::thread &w : workers)
        w.join();
    for (size_t i = 0; i < links.size(); ++i) {
        ConnectionSettings settings;
        settings.type = Tcp;
        settings.portOrBaud = served[i].port;
        settings.name = served[i].address;
        settings.label = served[i].label;
        settings.colorX = QColor::fromHsv(int(i * 67) % 360, 230, 220);
        settings.colorY = QColor::fromHsv(int(i * 67 + 120) % 360, 230, 180);
        settings.colorI = QColor::fromHsv(int(i * 67 + 240) % 360, 200, 200);
        window.newConnection(new Controller(std::unique_ptr<Connection>(links[i])), &settings);
    }
}

// faults: "slow", "silent", "unplugged" or "all" (one of each among k).
int latencyRow(bool streaming, int k, const QString &faults, int seconds)
{
    const int lifetime = setupCapSeconds + seconds + 10;
    const bool all = faults == QLatin1String("all");
    const int faulty = all ? 3 : 1;
    SimProcess healthy, slow, silent, unplugged;
    bool started = k - faulty <= 0 || startSimulator(healthy, k - faulty, {}, lifetime);
    if (all || faults == QLatin1String("slow"))
        started = started && startSimulator(slow, 1, {"--delay-replies", "700"}, lifetime);
    if (all || faults == QLatin1String("silent"))
        started = started && startSimulator(silent, 1, {"--drop-replies", "1"}, lifetime);
    if (all || faults == QLatin1String("unplugged"))
        started = started && startSimulator(unplugged, 1, {}, lifetime);
    if (!started) {
        std::printf("RESULT error the simulators did not start\n");
        return 1;
    }
    std::vector<Served> served;
    for (SimProcess *sim : {&healthy, &slow, &silent, &unplugged})
        for (quint16 port : sim->ports)
            served.push_back({loopback(int(served.size())), port, QStringLiteral("SIM%1").arg(served.size())});

    QTemporaryDir data; // no setup file: the window starts empty
    dataDirectory.setPath(data.path());
    Lateness lateness;
    Outcome outcome([&] { return lateness.summary(); });
    outcome.armWatchdog(setupCapSeconds + seconds);

    auto *window = new MainWindow;
    window->resize(1064, 808);
    window->show();
    handOver(*window, served);
    run(500);

    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] { lateness.fired(); });
    lateness.start();
    probe.start(tickMs);
    // The start of acquisition and the unplugging fall into the measured time.
    if (streaming)
        QTimer::singleShot(300, window, [window] {
            window->parts().toolBar->samplingRate()->setValue(500);
            window->parts().toolBar->startAction()->trigger();
        });
    if (unplugged.process->state() != QProcess::NotRunning)
        QTimer::singleShot(1000, window, [&] { unplugged.process->terminate(); });
    run(seconds * 1000);
    lateness.stop();
    outcome.finish(QStringLiteral("ok"));
    for (SimProcess *sim : {&healthy, &slow, &silent, &unplugged})
        stopSimulator(*sim);
    std::_Exit(0); // the window is not torn down: its teardown is not measured here
}

// ---------------------------------------------------------------- start-up row

int startupRow(int k, int capSeconds)
{
    SimProcess sim;
    if (!startSimulator(sim, k, {}, capSeconds + 20)) {
        std::printf("RESULT error the simulator did not start\n");
        return 1;
    }
    // A fresh per-user directory holding the default setup file.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("HOMEDRIVE");
    qunsetenv("HOMEPATH");
    dataDirectory.setPath(defaultDataDirectoryPath());
    if (!dataDirectory.mkpath(QStringLiteral(".")) || !dataDirectory.mkpath(QStringLiteral("Data"))) {
        std::printf("RESULT error no data directory\n");
        return 1;
    }
    QList<ConnectionSettings> records;
    for (int i = 0; i < k; ++i) {
        ConnectionSettings r;
        r.type = Tcp;
        r.portOrBaud = sim.ports[i];
        r.autoConnect = true;
        r.name = loopback(i);
        r.label = QStringLiteral("SIM%1").arg(i);
        // The identification text the simulator reports for controller i.
        r.id = QStringLiteral("ORX-BS2-A-V31-SIM%1").arg(i, 3, 10, QLatin1Char('0')).leftJustified(47, '-');
        records << r;
    }
    Settings file;
    if (!file.setConnections(records) || !file.saveConnectionFile()) {
        std::printf("RESULT error cannot write %s\n", qPrintable(Settings::defaultFilePath()));
        return 1;
    }

    QElapsedTimer clock;
    std::atomic<qint64> shownMs{-1}, identifiedMs{-1};
    std::atomic<int> connected{0};
    Outcome outcome([&] {
        return QStringLiteral("%1 %2 %3").arg(shownMs.load()).arg(identifiedMs.load()).arg(connected.load());
    });
    outcome.armWatchdog(capSeconds);

    // First paint of the window, seen from its event stream.
    struct PaintWatch : QObject
    {
        std::function<void()> painted;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint && painted)
                std::exchange(painted, nullptr)();
            return false;
        }
    } watch;
    watch.painted = [&] { shownMs = clock.elapsed(); };

    clock.start();
    auto *window = new MainWindow;
    window->installEventFilter(&watch);
    window->resize(1064, 808);
    window->show();
    window->raise();

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        int n = 0;
        for (const ControllerStatus &status : window->controllerRegistry().controllerStatus)
            n += status.connected;
        connected = n;
        if (n == k && identifiedMs < 0)
            identifiedMs = clock.elapsed();
        if (identifiedMs >= 0 && shownMs >= 0)
            QCoreApplication::quit();
    });
    poll.start(10);
    QCoreApplication::exec();
    outcome.finish(QStringLiteral("ok"));
    stopSimulator(sim);
    std::_Exit(0);
}

// ---------------------------------------------------------------- the table

QList<int> intList(const QString &text)
{
    QList<int> values;
    for (const QString &part : text.split(',', Qt::SkipEmptyParts))
        values << part.toInt();
    return values;
}

// Runs one row in a child process; its RESULT fields, or the reason there are none.
QStringList runChild(const QStringList &arguments, int capSeconds, QString &status)
{
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments(arguments);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start();
    if (!child.waitForFinished((capSeconds + 30) * 1000)) {
        child.kill();
        child.waitForFinished(5000);
        status = QStringLiteral("killed");
        return {};
    }
    for (const QByteArray &line : child.readAllStandardOutput().split('\n'))
        if (line.startsWith("RESULT ")) {
            QStringList fields = QString::fromLatin1(line.mid(7)).split(' ', Qt::SkipEmptyParts);
            status = fields.takeFirst();
            return fields;
        }
    status = QStringLiteral("no result");
    return {};
}

void latencyTable(const QList<int> &counts, int seconds)
{
    std::printf("\nUI-thread latency: lateness of a %d ms timer, %d s per row (goals: p99 < 20 ms, max < 100 ms)\n",
                tickMs, seconds);
    std::printf("%-9s %4s %-22s %9s %9s %9s %7s  %s\n", "mode", "K", "faulty among them", "p50", "p99", "max",
                "fired", "verdict");
    for (const char *mode : {"idle", "stream"}) {
        for (int k : counts) {
            QStringList variants = k < 3 ? QStringList{"slow", "silent", "unplugged"} : QStringList{"all"};
            for (const QString &faults : variants) {
                QString status;
                const QStringList f = runChild({"--row-latency", mode, "--k", QString::number(k), "--faults", faults,
                                                "--seconds", QString::number(seconds)},
                                               setupCapSeconds + seconds, status);
                const QString which = faults == QLatin1String("all") ? QStringLiteral("slow+silent+unplugged") : faults;
                if (f.size() < 4) {
                    std::printf("%-9s %4d %-22s  %s %s\n", mode, k, qPrintable(which), qPrintable(status),
                                qPrintable(f.join(' ')));
                    continue;
                }
                const double p99 = f[1].toDouble(), max = f[2].toDouble();
                QString verdict = p99 < 20 && max < 100 ? QStringLiteral("meets goals") : QStringLiteral("MISSES goals");
                if (status == QLatin1String("cap"))
                    verdict += QStringLiteral(" (cap hit: the window froze, figures up to the cap)");
                std::printf("%-9s %4d %-22s %7sms %7sms %7sms %7s  %s\n", mode, k, qPrintable(which), qPrintable(f[0]),
                            qPrintable(f[1]), qPrintable(f[2]), qPrintable(f[3]), qPrintable(verdict));
                std::fflush(stdout);
            }
        }
    }
}

void startupTable(const QList<int> &counts, int capSeconds)
{
    std::printf("\nStart-up with K auto-connect controllers in the default setup file (goals: window < 1000 ms, all "
                "identified < 4000 ms; cap %d s)\n", capSeconds);
    std::printf("%4s %12s %16s %10s  %s\n", "K", "window shown", "all identified", "connected", "verdict");
    for (int k : counts) {
        QString status;
        const QStringList f = runChild({"--row-startup", QString::number(k), "--cap", QString::number(capSeconds)},
                                       capSeconds, status);
        if (f.size() < 3) {
            std::printf("%4d  %s %s\n", k, qPrintable(status), qPrintable(f.join(' ')));
            continue;
        }
        const qint64 shown = f[0].toLongLong(), identified = f[1].toLongLong();
        auto ms = [](qint64 v) { return v < 0 ? QStringLiteral("not reached") : QStringLiteral("%1 ms").arg(v); };
        QString verdict = shown >= 0 && shown < 1000 && identified >= 0 && identified < 4000
                              ? QStringLiteral("meets goals")
                              : QStringLiteral("MISSES goals");
        if (status == QLatin1String("cap"))
            verdict += QStringLiteral(" (cap hit)");
        std::printf("%4d %12s %16s %6s/%-3d  %s\n", k, qPrintable(ms(shown)), qPrintable(ms(identified)),
                    qPrintable(f[2]), k, qPrintable(verdict));
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("LC_NUMERIC"))
        qputenv("LC_NUMERIC", "C");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"seconds", "Measured seconds per latency row.", "s", "10"},
                       {"controllers", "Numbers of controllers of the latency rows.", "list", "1,10,50"},
                       {"startup", "Numbers of controllers of the start-up rows.", "list", "10,50"},
                       {"startup-cap", "Cap of a start-up row in seconds.", "s", "30"},
                       {"only", "Only the latency or the start-up rows.", "latency|startup"},
                       {"row-latency", "(internal) one latency row: idle or stream.", "mode"},
                       {"row-startup", "(internal) one start-up row with this many controllers.", "k"},
                       {"k", "(internal) controllers of the row.", "k", "1"},
                       {"faults", "(internal) faulty controllers of the row.", "which", "all"},
                       {"cap", "(internal) cap of the row in seconds.", "s", "20"}});
    parser.addHelpOption();
    parser.process(app);
    const int seconds = std::max(1, parser.value("seconds").toInt());
    if (parser.isSet("row-latency"))
        return latencyRow(parser.value("row-latency") == QLatin1String("stream"), parser.value("k").toInt(),
                          parser.value("faults"), seconds);
    if (parser.isSet("row-startup"))
        return startupRow(parser.value("row-startup").toInt(), parser.value("cap").toInt());

    std::printf("User feel of the main window (offscreen), controllers served by separate simulator processes\n");
    const QString only = parser.value("only");
    if (only != QLatin1String("startup"))
        latencyTable(intList(parser.value("controllers")), seconds);
    if (only != QLatin1String("latency"))
        startupTable(intList(parser.value("startup")), parser.value("startup-cap").toInt());
    return 0;
}
