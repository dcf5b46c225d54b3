// Time of a jitter analysis of a 10-minute record at 500 Hz (300,000 samples,
// four axes): reading the recording file, the analysis (Welch spectra,
// cumulative and band RMS, peaks, Allan deviation, headroom), and both
// together as "beamstab-cli analyze" does them. Prints the best and the
// median of several runs; the goal is under 1 s for both together.

#include "analysis/JitterAnalysis.h"
#include "analysis/RecordReader.h"
#include "detectors/DetectorFactory.h"
#include "recording/RecordFormat.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>


#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

bool writeRecord(const QString &path, int samples, int rate)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    auto volts = createDetector(DetectorNone);
    file.write(RecordFormat::header(QDateTime::currentDateTime(), *volts, *volts));
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 20.0);
    std::vector<char> line(RecordFormat::maxLineLength);
    for (int i = 0; i < samples; ++i) {
        StreamSample s;
        s.x1 = qint16(std::lround(300 * std::sin(0.3 * i) + noise(rng)));
        s.y1 = qint16(std::lround(noise(rng)));
        s.x2 = qint16(std::lround(200 * std::sin(0.7 * i) + noise(rng)));
        s.y2 = qint16(std::lround(noise(rng)));
        s.intensity1 = s.intensity2 = 3000;
        s.rangeX1 = s.rangeY1 = s.rangeX2 = s.rangeY2 = qint16(5000 + i / 1000);
        file.write(line.data(), RecordFormat::formatLine(line.data(), quint32(i * 1000 / rate), s, *volts, *volts));
    }
    return true;
}

// CPU time of the whole process (all threads), ms: less disturbed than the
// wall clock by other work on a shared machine.
double cpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void report(const char *what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-28s best %7.1f ms   median %7.1f ms\n", what, ms.front(), ms[ms.size() / 2]);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rate = 500, samples = 600 * rate, runs = 7;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ten-minutes.csv"));
    if (!writeRecord(path, samples, rate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("record: %d samples x 4 axes at %d Hz, %.1f MB; the four axes on four threads\n", samples, rate,
                QFile(path).size() / 1e6);

    std::vector<double> readMs, analysisMs, totalMs, cpuReadMs, cpuTotalMs;
    JitterAnalysis::Settings settings;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = cpuMs();
        JitterRecord record;
        QString error;
        if (!RecordReader::readFile(path, record, error) || int(record.samples()) != samples) {
            std::fprintf(stderr, "read failed: %s\n", qPrintable(error));
            return 1;
        }
        const qint64 read = timer.nsecsElapsed();
        cpuReadMs.push_back(cpuMs() - cpuStart);
        const auto axes = JitterAnalysis::analyze(record, settings);
        const qint64 total = timer.nsecsElapsed();
        cpuTotalMs.push_back(cpuMs() - cpuStart);
        if (axes.size() != 4 || axes[0].allan.empty())
            return 1;
        readMs.push_back(read / 1e6);
        analysisMs.push_back((total - read) / 1e6);
        totalMs.push_back(total / 1e6);
    }
    report("read the recording", readMs);
    report("analysis (4 axes)", analysisMs);
    report("read + analysis", totalMs);
    report("read, CPU time", cpuReadMs);
    report("read + analysis, CPU time", cpuTotalMs);

    // CPU time of the analysis alone (all four threads): what it costs the
    // machine, whatever the number of cores.
    JitterRecord record;
    QString error;
    RecordReader::readFile(path, record, error);
    std::vector<double> cpu;
    for (int run = 0; run < runs; ++run) {
        const double cpuStart = cpuMs();
        JitterAnalysis::analyze(record, settings);
        cpu.push_back(cpuMs() - cpuStart);
    }
    report("analysis, CPU time", cpu);
    return 0;
}
