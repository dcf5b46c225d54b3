// The live display under load: the real main window (offscreen) shows K
// simulated controllers streaming at 500 Hz from a separate beamstab-sim
// --bench process, acquisition running, and this program measures the
// display tick, the user-interface thread's CPU time, the fullest store and
// the samples lost before display (from the simulator's sequence numbers).
//
//   bench_window [--seconds 20] [--controllers 1,10,50] [--updates 100,25]
//   bench_window --show --port 2000 --controllers 3 [--seconds 0]
//                [--drive 1x9600] [--analysis]
//
// --show connects to controllers already served on consecutive ports from
// --port (beamstab-sim --bind 0.0.0.0: controller i is reached as 127.0.0.i+1), shows the window on the current display and starts acquisition;
// it runs until the window is closed or the given seconds have passed.
// --drive STAGE AXIS MV (e.g. 1x9600) first drives that piezo actuator of the
// first controller (stabilization off, so it stays there); --analysis opens
// the jitter analysis window once acquisition runs.

#include "display/LiveDisplay.h"
#include "../load/SequenceTracker.h"
#include "controller/Controller.h"

#include "display/LinkedSpinBox.h"
#include "link/Connection.h"
#include "display/MainToolBar.h"
#include "display/MainWindow.h"
#include "display/RecordingControl.h"
#include "recording/DataLoggerDialog.h"
#include "recording/Recorder.h"
#include "link/Identification.h"
#include "link/TcpClient.h"
#include "setup/ConnectionSettings.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct Row
{
    int controllers = 0;
    int update = 0;
    int ticks = 0;
    double medianMs = 0, p99Ms = 0, maxMs = 0;
    double paintMedianMs = 0, paintP99Ms = 0; // tick plus the repaint it causes
    double cpuShare = 0; // of one core
    double cpuPerTickMs = 0; // the user-interface thread's CPU time per tick (tick, paint, events)
    double paintCpuMedianMs = 0, paintCpuP99Ms = 0; // CPU time of the repaint alone
    int largestFill = 0;
    int64_t received = 0;
    int64_t lost = 0;
    // Recording runs: samples the tick handed on while recording, and the
    // data lines found in the files afterwards.
    int64_t whileRecording = 0;
    int64_t linesWritten = 0;
    QString error;
};

// Data lines of a recording file (the three header lines not counted).
int64_t dataLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    int64_t lines = 0;
    char buffer[1 << 16];
    for (qint64 n; (n = file.read(buffer, sizeof buffer)) > 0;)
        lines += std::count(buffer, buffer + n, '\n');
    return lines - 3;
}

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double threadCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop (the window's display tick) for the given time
// without spinning, so the measured CPU time is the window's own.
void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QString loopback(int i)
{
    return QStringLiteral("127.0.0.%1").arg(i + 1);
}

// A distinct colour per controller, so every trace can be told apart.
ConnectionSettings settingsFor(int i, quint16 port)
{
    ConnectionSettings settings;
    settings.type = Tcp;
    settings.portOrBaud = port;
    settings.name = loopback(i);
    settings.label = QStringLiteral("SIM%1").arg(i);
    settings.colorX = QColor::fromHsv((i * 67) % 360, 230, 220);
    settings.colorY = QColor::fromHsv((i * 67 + 120) % 360, 230, 180);
    settings.colorI = QColor::fromHsv((i * 67 + 240) % 360, 200, 200);
    return settings;
}

// Connects, identifies and hands one link per port to the window.
bool handOver(MainWindow &window, const QList<quint16> &ports, QString &error)
{
    std::vector<TcpClient *> links;
    for (int i = 0; i < ports.size(); ++i) {
        auto *link = new TcpClient;
        // The window tells controllers apart by address: each simulated
        // controller is reached through its own loopback address.
        link->initialize(loopback(i), ports[i]);
        link->setLabel(QStringLiteral("SIM%1").arg(i));
        link->start();
        links.push_back(link);
    }
    std::vector<int> ok(links.size(), 0);
    {
        std::vector<std::thread> workers;
        for (size_t i = 0; i < links.size(); ++i)
            workers.emplace_back([&, i] {
                QElapsedTimer t;
                t.start();
                while (links[i]->linkState() != Connection::Connected && t.elapsed() < 15000)
                    QThread::msleep(1);
                ok[i] = links[i]->linkState() == Connection::Connected && identifyController(*links[i]).valid;
            });
        for (std::thread &w : workers)
            w.join();
    }
    for (size_t i = 0; i < links.size(); ++i) {
        if (!ok[i]) {
            error = QStringLiteral("controller %1 did not connect").arg(i);
            for (size_t j = i; j < links.size(); ++j)
                delete links[j];
            return false;
        }
        ConnectionSettings settings = settingsFor(int(i), ports[int(i)]);
        window.newConnection(new Controller(std::unique_ptr<Connection>(links[i])), &settings);
    }
    return true;
}

bool startSimulator(QProcess &sim, int count, QList<quint16> &ports, QString &error)
{
    sim.setProgram(QStringLiteral(BEAMSTAB_SIM_PATH));
    sim.setArguments({"--bench", "--count", QString::number(count), "--port", "0", "--bind", "0.0.0.0"});
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    if (!sim.waitForStarted(5000)) {
        error = QStringLiteral("cannot start the simulator");
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (!sim.canReadLine() && !sim.waitForReadyRead(200))
            continue;
        while (sim.canReadLine()) {
            const QString line = QString::fromLatin1(sim.readLine()).trimmed();
            if (line == QLatin1String("ready"))
                return ports.size() == count;
            const QStringList parts = line.split(' ');
            if (parts.size() == 3 && parts[0] == QLatin1String("tcp"))
                ports << quint16(parts[2].section(':', -1).toUInt());
        }
    }
    error = QStringLiteral("the simulator did not get ready");
    return false;
}

void stopSimulator(QProcess &sim)
{
    sim.terminate();
    if (!sim.waitForFinished(5000))
        sim.kill();
    sim.waitForFinished(2000);
}

void startAcquisition(MainWindow &window, int rate, int update)
{
    window.parts().toolBar->samplingRate()->setValue(rate);
    window.parts().toolBar->updateRate()->setValue(update);
    window.parts().toolBar->startAction()->trigger();
}

Row benchmark(int k, int update, double seconds, bool record)
{
    Row row;
    row.controllers = k;
    row.update = update;
    QProcess sim;
    QList<quint16> ports;
    if (!startSimulator(sim, k, ports, row.error)) {
        stopSimulator(sim);
        return row;
    }
    {
        MainWindow window;
        window.resize(1064, 808);
        window.show();
        if (!handOver(window, ports, row.error)) {
            stopSimulator(sim);
            return row;
        }
        std::vector<SequenceTracker> trackers(size_t(k), SequenceTracker(int(seconds * 600) + 2000));
        bool measuring = false;
        window.setSampleObserver([&](int, int c, const StreamSample &sample) {
            trackers[size_t(c)].add(sample, 0, false);
            if (window.parts().recording->recorder().isRecording())
                ++row.whileRecording;
        });
        std::vector<qint64> ticks, withPaint;
        std::vector<double> paintCpu;
        ticks.reserve(size_t(seconds * update) + 100);
        withPaint.reserve(size_t(seconds * update) + 100);
        paintCpu.reserve(size_t(seconds * update) + 100);
        window.parts().live->setTickObserver([&](qint64 ns, const DisplayTick::Result &result) {
            if (!measuring)
                return;
            ticks.push_back(ns);
            row.largestFill = std::max(row.largestFill, result.largestFill);
            // The plots repaint after the tick; painting them here, at once,
            // measures what a tick really costs the user-interface thread.
            QElapsedTimer paint;
            paint.start();
            const double cpu = threadCpuMs();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
            withPaint.push_back(ns + paint.nsecsElapsed());
            paintCpu.push_back(threadCpuMs() - cpu);
        });
        startAcquisition(window, 500, update);
        wait(1000); // streams settle; the window reaches its steady state
        // Every sample of every controller into its own file, started the
        // way the user does it in the recording dialog.
        QTemporaryDir recordDir;
        QStringList files;
        DataLoggerDialog *logger = window.parts().recording->dialog();
        if (record) {
            window.findChild<QAction *>(QStringLiteral("actionRecordingOpen"))->trigger();
            logger->findChild<QLineEdit *>(QStringLiteral("lineEdit_FileName"))->setText(recordDir.filePath("bench.txt"));
            logger->findChild<QCheckBox *>(QStringLiteral("checkBox"))->setChecked(true);
            logger->findChild<QSpinBox *>(QStringLiteral("spinBox_SaveRate"))->setValue(500);
            logger->findChild<QPushButton *>(QStringLiteral("pushButton_Start"))->click();
            files = window.parts().recording->recorder().filePaths();
            if (files.size() != k)
                row.error = QStringLiteral("%1 recording files for %2 controllers").arg(files.size()).arg(k);
        }
        measuring = true;
        const double cpuStart = threadCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        wait(int(seconds * 1000));
        row.cpuShare = (threadCpuSeconds() - cpuStart) / (wall.elapsed() / 1000.0);
        if (!ticks.empty())
            row.cpuPerTickMs = (threadCpuSeconds() - cpuStart) * 1000.0 / double(ticks.size());
        measuring = false;
        if (record) {
            if (!logger->isRecording())
                row.error = QStringLiteral("the recording stopped early");
            logger->findChild<QPushButton *>(QStringLiteral("pushButton_Stop"))->click();
            for (const QString &file : files)
                row.linesWritten += dataLines(file);
        }
        window.parts().toolBar->startAction()->trigger(); // Stop
        wait(300);
        std::sort(ticks.begin(), ticks.end());
        row.ticks = int(ticks.size());
        if (!ticks.empty()) {
            row.medianMs = ticks[ticks.size() / 2] / 1e6;
            row.p99Ms = ticks[std::min(ticks.size() - 1, size_t(ticks.size() * 0.99))] / 1e6;
            row.maxMs = ticks.back() / 1e6;
            std::sort(withPaint.begin(), withPaint.end());
            row.paintMedianMs = withPaint[withPaint.size() / 2] / 1e6;
            row.paintP99Ms = withPaint[std::min(withPaint.size() - 1, size_t(withPaint.size() * 0.99))] / 1e6;
            std::sort(paintCpu.begin(), paintCpu.end());
            row.paintCpuMedianMs = paintCpu[paintCpu.size() / 2];
            row.paintCpuP99Ms = paintCpu[std::min(paintCpu.size() - 1, size_t(paintCpu.size() * 0.99))];
        }
        for (const SequenceTracker &t : trackers) {
            row.received += t.received();
            row.lost += t.lost();
        }
        window.close();
    }
    stopSimulator(sim);
    return row;
}

QList<int> intList(const QString &text)
{
    QList<int> values;
    for (const QString &part : text.split(',', Qt::SkipEmptyParts))
        values << part.toInt();
    return values;
}

} // namespace

int main(int argc, char *argv[])
{
    bool show = false;
    for (int i = 1; i < argc; ++i)
        show = show || QByteArray(argv[i]) == "--show";
    if (!show)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"show", "Show the window connected to running controllers."},
                       {"port", "First port of the running controllers (--show).", "port", "2000"},
                       {"controllers", "Numbers of controllers.", "list", "1,10,50"},
                       {"updates", "Update rates in Hz.", "list", "100,25"},
                       {"rate", "Sampling rate in Hz (--show).", "rate", "500"},
                       {"seconds", "Measured seconds per run (--show: 0 = until closed).", "s", "20"},
                       {"record", "Record every sample of every controller, one file each, during each run."},
                       {"drive", "Drive a piezo of the first controller first (--show), e.g. 1x9600.", "stage+axis+mV"},
                       {"analysis", "Open the jitter analysis window (--show)."}});
    parser.addHelpOption();
    parser.process(app);
    const double seconds = parser.value("seconds").toDouble();
    const bool record = parser.isSet("record");

    if (show) {
        const int k = intList(parser.value("controllers")).value(0, 3);
        QList<quint16> ports;
        for (int i = 0; i < k; ++i)
            ports << quint16(parser.value("port").toInt() + i);
        MainWindow window;
        window.show();
        QString error;
        if (!handOver(window, ports, error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        const QString drive = parser.value("drive");
        if (drive.size() >= 3 && !window.controllerRegistry().controllers.isEmpty()) {
            QByteArray arguments;
            const int mV = drive.mid(2).toInt();
            arguments.append(char(drive.at(0).digitValue())).append(drive.at(1).toLatin1());
            arguments.append(char(mV >> 8)).append(char(mV & 0xff)).append(';');
            Connection *first = &window.controllerRegistry().controllers.first()->link();
            first->setDriveActuator(arguments);
            QByteArray reply;
            if (!first->waitForReply(reply) || !reply.startsWith(QByteArray("\0;", 2)))
                std::fprintf(stderr, "The actuator could not be driven.\n");
        }
        startAcquisition(window, parser.value("rate").toInt(), intList(parser.value("updates")).value(0, 25));
        if (parser.isSet("analysis"))
            QTimer::singleShot(500, &window, [&window] {
                if (QAction *open = window.findChild<QAction *>(QStringLiteral("actionJitterAnalysis")))
                    open->trigger();
            });
        if (seconds > 0)
            QTimer::singleShot(int(seconds * 1000), &window, &QWidget::close);
        return app.exec();
    }

    std::printf("Live display, real main window offscreen, 500 Hz per controller, %.0f s per run\n", seconds);
    std::printf("Tick: the display tick alone; +paint: the tick and the repaint of the plots it causes.\n");
    std::printf("CPU/tick: the user-interface thread's CPU time per tick (everything it did); paint CPU: the "
                "repaint's CPU time (median, p99). Wall times include waiting for a CPU on a busy machine.\n");
    if (record)
        std::printf("Recording every sample (save rate 500 Hz, one file per controller); recorded: samples handed on "
                    "while recording, written: data lines in the files.\n");
    std::printf("%4s %7s %6s %8s %8s %8s %10s %10s %7s %9s %9s %9s %9s %10s %6s", "K", "update", "ticks", "median",
                "p99", "max", "+paint med", "+paint p99", "UI CPU", "CPU/tick", "paint med", "paint p99", "max fill",
                "received", "lost");
    std::printf(record ? " %10s %10s\n" : "\n", "recorded", "written");
    for (int k : intList(parser.value("controllers"))) {
        for (int update : intList(parser.value("updates"))) {
            const Row r = benchmark(k, update, seconds, record);
            if (!r.error.isEmpty()) {
                std::printf("%4d %7d  error: %s\n", k, update, qPrintable(r.error));
                continue;
            }
            std::printf("%4d %5dHz %6d %6.2fms %6.2fms %6.2fms %8.2fms %8.2fms %6.0f%% %7.2fms %7.2fms %7.2fms %9d "
                        "%10lld %6lld",
                        r.controllers, r.update, r.ticks, r.medianMs, r.p99Ms, r.maxMs, r.paintMedianMs,
                        r.paintP99Ms, r.cpuShare * 100, r.cpuPerTickMs, r.paintCpuMedianMs, r.paintCpuP99Ms,
                        r.largestFill, (long long)r.received, (long long)r.lost);
            if (record)
                std::printf(" %10lld %10lld", (long long)r.whileRecording, (long long)r.linesWritten);
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return 0;
}
