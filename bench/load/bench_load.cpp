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
//              [--sim PATH]
//
// Columns: sent (highest sequence number per controller, summed), received,
// lost, dup (duplicated), ooo (out of order), fill (largest store fill seen
// before a drain), cpu/1k (user + system ms of this process per 1000 samples
// while streaming), delay median / p99 / max in ms.

#include "LoadRun.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

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
    std::fprintf(stderr, "usage: bench_load [--counts 1,10,50] [--seconds S] [--rate HZ] [--tick MS] [--sim PATH]\n");
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
    takeValue(args, "--sim", options.simulatorPath);
    if (!args.isEmpty() || counts.isEmpty())
        return usage();
    if (!QFileInfo(options.simulatorPath).isExecutable()) {
        std::fprintf(stderr, "bench_load: simulator not found: %s\n", qPrintable(options.simulatorPath));
        return 2;
    }

    std::printf("link load: %g s per run, %d Hz, drain every %d ms (up to %d samples per controller)\n",
                options.seconds, options.rate, options.tickMs, options.samplesPerTick);
    std::printf("%4s %9s %9s %6s %6s %6s %6s %8s %8s %8s %8s\n", "K", "sent", "received", "lost", "dup", "ooo",
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
        std::printf("%4d %9lld %9lld %6lld %6lld %6lld %6d %8.2f %8.2f %8.2f %8.2f\n", k, (long long)r.sent,
                    (long long)r.received, (long long)r.lost, (long long)r.duplicated, (long long)r.outOfOrder,
                    r.maxFill, cpuPer1000, r.delayMedianMs, r.delayP99Ms, r.delayMaxMs);
        if (r.disconnects > 0 || r.stillStreaming > 0)
            std::printf("     (%d links reported a disconnect, %d did not confirm the stop)\n", r.disconnects,
                        r.stillStreaming);
        std::fflush(stdout);
    }
    std::printf("cpu/1k: user + system ms of the receiving process per 1000 samples while streaming; "
                "d.*: send to takeSample in ms\n");
    return failures == 0 ? 0 : 1;
}
