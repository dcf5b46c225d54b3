// Cost of refreshing the system configuration overview at a display tick:
// updateConnections with 50 controller rows, the dialog shown (offscreen),
// when nothing changed, when one controller's stage flags changed, when
// every row changed, and when the rows are first created.
//
//   QT_QPA_PLATFORM=offscreen bench_overview [--benchmark_...]

#include "overview/ConnectionOverviewDialog.h"

#include <benchmark/benchmark.h>

#include <QApplication>

namespace {
constexpr int rows = 50;

QList<ControllerStatus> records()
{
    QList<ControllerStatus> list;
    for (int i = 0; i < rows; ++i) {
        ControllerStatus status;
        status.label = QStringLiteral("Controller_%1").arg(i);
        status.address = QStringLiteral("10.0.0.%1").arg(i + 1);
        status.connected = true;
        status.shown = true;
        status.colorX = QColor::fromHsv((i * 37) % 360, 255, 230);
        status.colorY = QColor::fromHsv((i * 37 + 40) % 360, 255, 150);
        status.colorI = QColor::fromHsv((i * 37 + 80) % 360, 255, 200);
        list << status;
    }
    return list;
}

void unchanged(benchmark::State &state)
{
    ConnectionOverviewDialog dialog;
    dialog.show();
    const QList<ControllerStatus> list = records();
    dialog.updateConnections(list);
    for (auto _ : state)
        dialog.updateConnections(list);
}
BENCHMARK(unchanged)->Unit(benchmark::kMicrosecond);

// One controller's stage 1 switches on or off at every tick.
void oneRowChanges(benchmark::State &state)
{
    ConnectionOverviewDialog dialog;
    dialog.show();
    QList<ControllerStatus> list = records();
    dialog.updateConnections(list);
    int tick = 0;
    for (auto _ : state) {
        ControllerStatus &status = list[tick % rows];
        status.stabOn1 = !status.stabOn1;
        status.active1 = status.stabOn1;
        dialog.updateConnections(list);
        ++tick;
    }
}
BENCHMARK(oneRowChanges)->Unit(benchmark::kMicrosecond);

// Every row's stage flags change at every tick (worst case of a tick).
void everyRowChanges(benchmark::State &state)
{
    ConnectionOverviewDialog dialog;
    dialog.show();
    QList<ControllerStatus> list = records();
    dialog.updateConnections(list);
    for (auto _ : state) {
        for (ControllerStatus &status : list) {
            status.stabOn2 = !status.stabOn2;
            status.active2 = status.stabOn2;
        }
        dialog.updateConnections(list);
    }
}
BENCHMARK(everyRowChanges)->Unit(benchmark::kMicrosecond);

// 50 controllers arrive: the rows are created (once per setup load).
void rowsCreated(benchmark::State &state)
{
    const QList<ControllerStatus> list = records();
    for (auto _ : state) {
        state.PauseTiming();
        auto dialog = std::make_unique<ConnectionOverviewDialog>();
        dialog->show();
        state.ResumeTiming();
        dialog->updateConnections(list);
        state.PauseTiming();
        dialog.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(rowsCreated)->Unit(benchmark::kMillisecond)->Iterations(5);
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
