// Load benchmark of the controller link. For each controller count K,
// beamstab-sim --bench serves K controllers from its own process; this
// process connects one TcpClient per controller, identifies them, streams
// all of them at 500 Hz and takes samples every 20 ms (up to 501 per
// controller and tick, as the display tick does), then stops the streams.
// The simulator numbers every message and stamps its send time, so loss,
// duplicates and reordering are exact; the delay from sending to the
// sample's arrival stamp (taken as it goes into the store) and to
// takeSamples are measured directly. After each run of the links the same
// streams are read by a reference reader (one thread, epoll, raw reads, the
// same decoding) and the link's cost is printed as a multiple of it.
//
//   bench_load [--counts 1,10,50] [--seconds 30] [--rate 500] [--tick 20]
//              [--starve 3000] [--batch MS] [--no-pump] [--no-ring] [--serial] [--no-reference] [--sim PATH]
//
// --batch sets the links' stream batch interval (0 = wake for every
// message); --no-pump leaves each link thread to read its own stream on
// its batch timer instead of the process's one stream pump; --no-ring
// makes the pump read the sockets one by one instead of with one call per
// pass; --serial
// serves the controllers over pseudo-terminals and connects SerialPort
// links instead of TcpClient.
//
// Columns: sent (highest sequence number per controller, summed), received,
// lost (sequence numbers that never arrived), drop (samples the stores
// overwrote, by their own count), dup (duplicated), ooo (out of order), fill (largest store fill seen
// before a drain), cpu/1k (user + system ms of this process per 1000 samples
// while streaming), ref/1k (CPU ms of the reference reader's thread per 1000
// samples), ratio (cpu/1k over ref/1k), s.med / s.p99 / s.max (send to
// store in ms, rounded up to the stamp's millisecond), t.p99 (send to
// takeSamples in ms, dominated by the drain interval).
//
// After the table one more run with one controller starves the receiver:
// from 1 s in, for --starve ms (0 = skip), nothing is taken and a busy thread
// spins on every core. The store must then have counted exactly the samples
// the sequence numbers show as missing.

#include "LoadRun.h"
#include "ReferenceReader.h"

#include "link/StreamPump.h"

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
    std::fprintf(stderr, "usage: bench_load [--counts 1,10,50] [--seconds S] [--rate HZ] [--tick MS] [--starve MS] "
                         "[--batch MS] [--no-pump] [--no-ring] [--serial] [--no-reference] [--sim PATH]\n");
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
    if (takeValue(args, "--batch", value))
        options.batchMs = value.toInt(&ok);
    if (!ok || options.batchMs < -1)
        return usage();
    options.serial = args.removeAll("--serial") > 0;
    StreamPump::setEnabled(args.removeAll("--no-pump") == 0);
    StreamPump::setRingReads(args.removeAll("--no-ring") == 0);
    const bool reference = args.removeAll("--no-reference") == 0;
    takeValue(args, "--sim", options.simulatorPath);
    if (!args.isEmpty() || counts.isEmpty())
        return usage();
    if (!QFileInfo(options.simulatorPath).isExecutable()) {
        std::fprintf(stderr, "bench_load: simulator not found: %s\n", qPrintable(options.simulatorPath));
        return 2;
    }

    std::printf("link load over %s: %g s per run, %d Hz, drain every %d ms (up to %d samples per controller), "
                "batch interval %s, %s\n",
                options.serial ? "pseudo-terminals" : "TCP", options.seconds, options.rate, options.tickMs,
                options.samplesPerTick,
                options.batchMs < 0 ? "default" : qPrintable(QString("%1 ms").arg(options.batchMs)),
                !StreamPump::enabled()   ? "link threads read"
                : StreamPump::ringReads() ? "stream pump, one receive call per pass"
                                          : "stream pump, one read per socket");
    std::printf("%4s %8s %8s %5s %5s %4s %4s %5s %7s %7s %6s %6s %6s %7s %7s\n", "K", "sent", "received", "lost", "drop", "dup",
                "ooo", "fill", "cpu/1k", "ref/1k", "ratio", "s.med", "s.p99", "s.max", "t.p99");
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
        LoadResult ref;
        if (reference)
            ref = runReference(options);
        const double cpuPer1000 = r.windowSamples > 0 ? r.cpuMs * 1000.0 / double(r.windowSamples) : 0.0;
        const double refPer1000 = ref.ok && ref.windowSamples > 0 ? ref.cpuMs * 1000.0 / double(ref.windowSamples) : 0.0;
        std::printf("%4d %8lld %8lld %5lld %5lld %4lld %4lld %5d %7.2f %7.2f %6.1f %6.2f %6.2f %7.2f %7.2f\n", k,
                    (long long)r.sent, (long long)r.received, (long long)r.lost, (long long)r.dropped, (long long)r.duplicated,
                    (long long)r.outOfOrder, r.maxFill, cpuPer1000, refPer1000,
                    refPer1000 > 0 ? cpuPer1000 / refPer1000 : 0.0, r.storeMedianMs, r.storeP99Ms, r.storeMaxMs,
                    r.delayP99Ms);
        std::printf("     link: %.0f context switches per 1000 samples\n",
                    r.windowSamples > 0 ? double(r.contextSwitches) * 1000.0 / double(r.windowSamples) : 0.0);
        if (reference)
            std::printf("     reference: %lld received, %lld lost, %lld dup, send to store p99 %.2f ms%s%s\n",
                        (long long)ref.received, (long long)ref.lost, (long long)ref.duplicated, ref.storeP99Ms,
                        ref.ok ? "" : ", failed: ", ref.ok ? "" : qPrintable(ref.error));
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
    return failures == 0 ? 0 : 1;
}
