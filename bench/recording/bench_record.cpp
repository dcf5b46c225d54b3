// Cost of recording one sample: formatting a line, appending it to a
// recording file (with the real writes of full buffers), and the whole
// hand-off for 50 controllers each with its own file. Items per second are
// lines per second. "allocs/line" counts heap allocations per line in the
// measured loop; the per-sample path is meant to have none.

#include "detectors/DetectorFactory.h"
#include "detectors/StageDetectors.h"
#include "recording/RecordFile.h"
#include "recording/RecordFormat.h"
#include "recording/Recorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long long> allocations{0};
}

void *operator new(std::size_t size)
{
    ++allocations;
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

namespace {

StreamSample sampleFor(int i)
{
    StreamSample s;
    s.time = 1000 + 2 * i;
    s.x1 = qint16(i % 4000 - 2000);
    s.y1 = qint16(1500 - i % 3000);
    s.intensity1 = quint16(2500 + i % 100);
    s.x2 = qint16(i % 700);
    s.y2 = qint16(-(i % 900));
    s.intensity2 = quint16(3000 - i % 50);
    s.rangeX1 = 5000, s.rangeY1 = 4990, s.rangeX2 = 5010, s.rangeY2 = 5020;
    return s;
}

void countAllocations(benchmark::State &state, long long before)
{
    state.counters["allocs/line"] =
        benchmark::Counter(double(allocations - before) / double(state.iterations()));
    state.SetItemsProcessed(state.iterations());
}

void formatLine(benchmark::State &state)
{
    const StageDetectors models(int(state.range(0)), 50, int(state.range(1)), DetectorQD, 80, 1, false);
    char line[RecordFormat::maxLineLength];
    int i = 0;
    const long long before = allocations;
    for (auto _ : state) {
        benchmark::DoNotOptimize(RecordFormat::formatLine(line, quint32(i), sampleFor(i), *models.stage1(), *models.stage2()));
        ++i;
    }
    countAllocations(state, before);
}
BENCHMARK(formatLine)->Args({DetectorNone, 0})->Args({DetectorPSD, 1})->ArgNames({"type1", "length"});

// The same line with snprintf, for comparison.
void formatLineSnprintf(benchmark::State &state)
{
    char line[RecordFormat::maxLineLength];
    int i = 0;
    for (auto _ : state) {
        const StreamSample s = sampleFor(i);
        benchmark::DoNotOptimize(std::snprintf(line, sizeof line, "%u\t%.*f\t%.*f\t%.2f\t%.*f\t%.*f\t%.2f\t%.2f\t%.2f\t%.2f\t%.2f\n",
                                               unsigned(i), 3, s.x1 * 0.001, 3, s.y1 * 0.001, s.intensity1 * 0.001, 3,
                                               s.x2 * 0.001, 3, s.y2 * 0.001, s.intensity2 * 0.001, s.rangeX1 * 0.001,
                                               s.rangeY1 * 0.001, s.rangeX2 * 0.001, s.rangeY2 * 0.001));
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(formatLineSnprintf);

void appendToFile(benchmark::State &state)
{
    QTemporaryDir dir;
    const StageDetectors models;
    RecordFile file(dir.filePath("bench.csv"));
    if (!file.open(RecordFormat::header(QDateTime::currentDateTime(), *models.stage1(), *models.stage2()))) {
        state.SkipWithError("cannot create the file");
        return;
    }
    int i = 0;
    const long long before = allocations;
    for (auto _ : state) {
        file.appendLine(quint32(i), sampleFor(i), *models.stage1(), *models.stage2());
        ++i;
    }
    countAllocations(state, before);
    file.close();
}
BENCHMARK(appendToFile);

// 50 controllers, one file each, every sample written (save rate = sampling
// rate), the samples offered in the order a display tick hands them over.
void recorder50Controllers(benchmark::State &state)
{
    QTemporaryDir dir;
    const StageDetectors models(DetectorPSD, 50, 1, DetectorQD, 80, 1, false);
    QVector<RecordSource> sources;
    for (int c = 0; c < 50; ++c) {
        RecordSource s;
        s.connection = c;
        s.info.label = QStringLiteral("C%1").arg(c);
        s.info.detectors = models;
        sources << s;
    }
    Recorder recorder;
    if (!recorder.start(dir.filePath("run.csv"), true, sources, 500, 500)) {
        state.SkipWithError("cannot start");
        return;
    }
    int i = 0;
    const long long before = allocations;
    for (auto _ : state) {
        recorder.offer(i % 50, sampleFor(i / 50), models);
        ++i;
    }
    countAllocations(state, before);
    recorder.stop();
}
BENCHMARK(recorder50Controllers);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
