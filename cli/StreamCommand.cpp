#include "StreamCommand.h"

#include "CliCommon.h"

#include "link/Connection.h"
#include "link/Identification.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace {

void writeHeader(QTextStream &file)
{
    file << "time\tstabOn1\tstabOn2\tactive1\tactive2\tmultiplex1\tmultiplex2\tx1\ty1\tintensity1\t"
            "x2\ty2\tintensity2\trangeX1\trangeY1\trangeX2\trangeY2\n";
}

void writeSample(QTextStream &file, const StreamSample &s)
{
    file << s.time << '\t' << int(s.stabOn1) << '\t' << int(s.stabOn2) << '\t' << int(s.active1) << '\t'
         << int(s.active2) << '\t' << int(s.multiplex1) << '\t' << int(s.multiplex2) << '\t' << s.x1 << '\t'
         << s.y1 << '\t' << s.intensity1 << '\t' << s.x2 << '\t' << s.y2 << '\t' << s.intensity2 << '\t'
         << s.rangeX1 << '\t' << s.rangeY1 << '\t' << s.rangeX2 << '\t' << s.rangeY2 << '\n';
}

} // namespace

int runStreamCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    if (arguments.contains(QStringLiteral("--help"))) {
        out << "usage: beamstab-cli stream LINK --rate R --seconds S [--out FILE]\n"
               "Streams at R Hz (1 to 500) for S seconds, stops the stream and prints the\n"
               "samples received, the samples dropped because they were not taken in time,\n"
               "the achieved rate and the resynchronisations. --out writes\n"
               "the decoded samples (millivolts) as tab-separated text with a header line.\n"
            << linkOptionsHelp();
        return ExitOk;
    }
    QStringList args = arguments;
    QString rateText, secondsText, outPath;
    const bool hasRate = takeOption(args, QStringLiteral("--rate"), rateText);
    const bool hasSeconds = takeOption(args, QStringLiteral("--seconds"), secondsText);
    takeOption(args, QStringLiteral("--out"), outPath);
    LinkTarget target;
    QString error;
    if (!takeLinkOptions(args, target, error) || !target.given || !hasRate || !hasSeconds || !args.isEmpty()) {
        err << "error: "
            << (error.isEmpty() ? QStringLiteral("usage: stream LINK --rate R --seconds S [--out FILE]") : error)
            << '\n';
        return ExitUsage;
    }
    bool rateOk = false, secondsOk = false;
    const int rate = rateText.toInt(&rateOk);
    const double seconds = secondsText.toDouble(&secondsOk);
    if (!rateOk || rate < 1 || rate > 500 || !secondsOk || seconds <= 0 || seconds > 86400) {
        err << "error: --rate takes 1 to 500 Hz and --seconds a positive number\n";
        return ExitUsage;
    }

    QFile file(outPath);
    QTextStream fileStream;
    if (!outPath.isEmpty()) {
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            err << "error: cannot write '" << outPath << "': " << file.errorString() << '\n';
            return ExitUsage;
        }
        fileStream.setDevice(&file);
        writeHeader(fileStream);
    }

    auto link = openLink(target, error);
    if (!link) {
        err << "error: " << error << '\n';
        return ExitConnectionFailed;
    }
    if (!identifyController(*link).valid) {
        err << "error: System identification failed\n";
        return ExitIdentificationFailed;
    }

    link->setSamplingRate(rate);
    const QByteArray rateArguments = QByteArray("\x00\x00", 2) + char(rate >> 8) + char(rate & 0xFF) + ';';
    // The stream runs for the given time from the start command on.
    QElapsedTimer timer;
    timer.start();
    link->startStream(rateArguments);
    QByteArray reply;
    if (!link->waitForReply(reply) || !link->isStreaming()) {
        err << "error: the stream did not start (" << describeBytes(reply) << ")\n";
        return ExitCommandFailed;
    }

    qint64 received = 0;
    StreamSample sample;
    auto drain = [&] {
        while (link->takeSample(sample)) {
            ++received;
            if (!outPath.isEmpty())
                writeSample(fileStream, sample);
        }
    };
    const qint64 duration = qint64(seconds * 1000.0);
    for (qint64 left = duration - timer.elapsed(); left > 0; left = duration - timer.elapsed()) {
        drain();
        QThread::msleep(qMin<qint64>(left, 2));
    }
    // Stop; a stop that was not confirmed is repeated once.
    link->clearLiveStream();
    if (!link->waitForReply(reply) || !isGoodReply(reply)) {
        link->clearLiveStream();
        link->waitForReply(reply);
    }
    const double elapsed = timer.elapsed() / 1000.0;
    drain();
    fileStream.flush();

    const qint64 dropped = link->droppedSamples();
    out << "samples\t" << received << '\n'
        << "dropped\t" << dropped << '\n'
        << "rate\t" << QString::number(received / seconds, 'f', 1) << " Hz (over " << QString::number(elapsed, 'f', 3)
        << " s until stopped)\n"
        << "resynchronisations\t" << link->resynchronisations() << '\n';
    if (dropped > 0)
        err << "warning: " << dropped << " samples were dropped: they were not taken out of the store in time"
            << " (this process or the machine was too slow)\n";
    if (link->isStreaming()) {
        err << "error: the stream did not stop\n";
        return ExitCommandFailed;
    }
    return ExitOk;
}
