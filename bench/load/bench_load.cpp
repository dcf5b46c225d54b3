// Load benchmark of the controller link. For each controller count K,
// beamstab-sim --bench serves K controllers from its own process; this
// process connects one TcpClient per controller, identifies them, streams
// all of them at 500 Hz and takes samples every 20 ms (up to 501 per
// controller and tick, as the display tick does), then stops the streams.
// The simulator numbers every message and stamps its send time, so loss,
// duplicates and reordering are exact and the delay from sending to
// takeSample is measured directly.
//
//   bench_load [--counts 1,10,50] [--seconds 30] [--rate 500] [--tick 20]
//              [--starve 3000] [--sim PATH]
//
// Columns: sent (highest sequence number per controller, summed), received,
// lost (sequence numbers that never arrived), drop (samples the stores
// overwrote, by their own count), dup (duplicated), ooo (out of order), fill (largest store fill seen
// before a drain), cpu/1k (user + system ms of this process per 1000 samples
// while streaming), delay median / p99 / max in ms.
//
// After the table one more run with one controller starves the receiver:
// from 1 s in, for --starve ms (0 = skip), nothing is taken and a busy thread
// spins on every core. The store must then have counted exactly the samples
// the sequence numbers show as missing.

#include "LoadRun.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {

bool takeValue(QStringList &args, const QString &name, QString &value)
{
    const int i = args.indexOf(name);
    if (i < 0 || i + 1 >= args.size())
        return false;
    value = args.at(i + 1);
    args.erase(args.begin() + i, args.begin() + i + 2);
    return true;
}

int usage()
{
    std::fprintf(stderr, "usage: bench_load [--counts 1,10,50] [--seconds S] [--rate HZ] [--tick MS] [--starve MS] [--sim PATH]\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The link logs every connect and stop; the table is the output here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });

    QStringList args = app.arguments().mid(1);
    LoadOptions options;
    options.simulatorPath = QStringLiteral(BEAMSTAB_SIM_PATH);
    QList<int> counts{1, 10, 50};
    QString value;
    if (takeValue(args, "--counts", value)) {
        counts.clear();
        for (const QString &part : value.split(',', Qt::SkipEmptyParts)) {
            bool ok = false;
            const int k = part.toInt(&ok);
            if (!ok || k < 1 || k > 200)
                return usage();
            counts << k;
        }
    }
    bool ok = true;
    if (takeValue(args, "--seconds", value))
        options.seconds = value.toDouble(&ok);
    if (!ok || options.seconds <= 0)
        return usage();
    if (takeValue(args, "--rate", value))
        options.rate = value.toInt(&ok);
    if (!ok || options.rate < 1 || options.rate > 500)
        return usage();
    if (takeValue(args, "--tick", value))
        options.tickMs = value.toInt(&ok);
    if (!ok || options.tickMs < 1)
        return usage();
    int starveMs = 3000;
    if (takeValue(args, "--starve", value))
        starveMs = value.toInt(&ok);
    if (!ok || starveMs < 0)
        return usage();
    takeValue(args, "--sim", options.simulatorPath);
    if (!args.isEmpty() || counts.isEmpty())
        return usage();
    if (!QFileInfo(options.simulatorPath).isExecutable()) {
        std::fprintf(stderr, "bench_load: simulator not found: %s\n", qPrintable(options.simulatorPath));
        return 2;
    }

    std::printf("link load: %g s per run, %d Hz, drain every %d ms (up to %d samples per controller)\n",
                options.seconds, options.rate, options.tickMs, options.samplesPerTick);
    std::printf("%4s %9s %9s %6s %6s %6s %6s %6s %8s %8s %8s %8s\n", "K", "sent", "received", "lost", "drop", "dup", "ooo",
                "fill", "cpu/1k", "d.med", "d.p99", "d.max");
    std::fflush(stdout);
    int failures = 0;
    for (int k : counts) {
        options.controllers = k;
        const LoadResult r = runLoad(options);
        if (!r.ok) {
            std::printf("%4d failed: %s\n", k, qPrintable(r.error));
            ++failures;
            continue;
        }
        const double cpuPer1000 = r.windowSamples > 0 ? r.cpuMs * 1000.0 / double(r.windowSamples) : 0.0;
        std::printf("%4d %9lld %9lld %6lld %6lld %6lld %6lld %6d %8.2f %8.2f %8.2f %8.2f\n", k, (long long)r.sent,
                    (long long)r.received, (long long)r.lost, (long long)r.dropped, (long long)r.duplicated,
                    (long long)r.outOfOrder,
                    r.maxFill, cpuPer1000, r.delayMedianMs, r.delayP99Ms, r.delayMaxMs);
        if (r.disconnects > 0 || r.stillStreaming > 0)
            std::printf("     (%d links reported a disconnect, %d did not confirm the stop)\n", r.disconnects,
                        r.stillStreaming);
        std::fflush(stdout);
    }
    if (starveMs > 0) {
        LoadOptions starved = options;
        starved.controllers = 1;
        starved.starveMs = starveMs;
        starved.seconds = std::max(options.seconds, starveMs / 1000.0 + 3.0);
        const LoadResult r = runLoad(starved);
        if (!r.ok) {
            std::printf("starved run failed: %s\n", qPrintable(r.error));
            ++failures;
        } else {
            const bool exact = r.lost == r.dropped && r.duplicated == 0;
            std::printf("starved receiver (no draining and %u busy threads for %d ms, %g s run): sent %lld, received "
                        "%lld, missing sequence numbers %lld, store's drop count %lld: %s\n",
                        std::max(1u, std::thread::hardware_concurrency()), starveMs, starved.seconds,
                        (long long)r.sent, (long long)r.received, (long long)r.lost, (long long)r.dropped,
                        exact ? "equal" : "DIFFERENT");
            if (!exact)
                ++failures;
        }
    }
    std::printf("cpu/1k: user + system ms of the receiving process per 1000 samples while streaming; "
                "d.*: send to takeSample in ms\n");
    return failures == 0 ? 0 : 1;
}
