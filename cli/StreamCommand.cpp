#include "StreamCommand.h"

#include "CliCommon.h"

#include "controller/Controller.h"
#include "link/Protocol.h"
#include "recording/Recorder.h"
#include "detectors/StageDetectors.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

// The recording of --out: the program's recording format, every sample (save
// rate = sampling rate), positions in volts.
RecordSource recordSource(const Connection &link, const ControllerIdentity &identity)
{
    RecordSource source;
    source.connection = 0;
    source.info.controllerId = identity.controllerId;
    source.info.label = link.label();
    source.info.address = link.address();
    source.info.firmware = identity.firmwareVersion;
    return source;
}

} // namespace

int runStreamCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    if (arguments.contains(QStringLiteral("--help"))) {
        out << "usage: beamstab-cli stream LINK --rate R --seconds S [--out FILE]\n"
               "Streams at R Hz (1 to 500) for S seconds, stops the stream and prints the\n"
               "samples received, the samples dropped because they were not taken in time,\n"
               "the achieved rate and the resynchronisations. --out writes every sample to\n"
               "FILE in the recording format of the application (positions in volts) and\n"
               "FILE.json with what was recorded.\n"
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

    int exitCode = ExitOk;
    ControllerIdentity identity;
    const auto controller = openIdentifiedController(target, err, exitCode, &identity);
    if (!controller)
        return exitCode;
    Connection &link = controller->link();
    Recorder recorder;
    const StageDetectors volts;
    QString writeError;
    QObject::connect(&recorder, &Recorder::writeFailed, [&writeError](const QString &message) { writeError = message; });
    if (!outPath.isEmpty() && !recorder.start(outPath, false, {recordSource(link, identity)}, rate, rate)) {
        err << "error: cannot write '" << outPath << "': " << recorder.errorString() << '\n';
        return ExitUsage;
    }

    // The stream runs for the given time from the start command on.
    QElapsedTimer timer;
    timer.start();
    QByteArray reply = controller->request([rate](Connection &l) { return LinkSequences::startStreamReply(l, rate); })
                           .result();
    // Stops the stream; a stop that was not confirmed is repeated once.
    auto stop = [&] { reply = controller->request(LinkSequences::stopStreamReply).result(); };
    if (!link.isStreaming()) {
        err << "error: the stream did not start (" << describeBytes(reply) << ")\n";
        // The controller may have started without answering: stop it.
        stop();
        return ExitCommandFailed;
    }

    qint64 received = 0;
    StreamSample sample;
    auto drain = [&] {
        while (link.takeSample(sample)) {
            ++received;
            recorder.offer(0, sample, volts);
        }
        recorder.flushDue();
    };
    const qint64 duration = qint64(seconds * 1000.0);
    for (qint64 left = duration - timer.elapsed(); left > 0; left = duration - timer.elapsed()) {
        drain();
        QThread::msleep(qMin<qint64>(left, 2));
    }
    stop();
    const bool stopConfirmed = Protocol::isGoodReply(reply);
    const double elapsed = timer.elapsed() / 1000.0;
    drain();
    const qint64 lines = recorder.linesWritten();
    recorder.stop();

    const qint64 dropped = link.droppedSamples();
    out << "samples\t" << received << '\n'
        << "dropped\t" << dropped << '\n'
        << "rate\t" << QString::number(received / seconds, 'f', 1) << " Hz (over " << QString::number(elapsed, 'f', 3)
        << " s until stopped)\n"
        << "resynchronisations\t" << link.resynchronisations() << '\n';
    if (!outPath.isEmpty())
        out << "lines\t" << lines << '\n';
    if (!writeError.isEmpty()) {
        err << "error: " << writeError << '\n';
        return ExitConnectionFailed;
    }
    if (dropped > 0)
        err << "warning: " << dropped << " samples were dropped: they were not taken out of the store in time"
            << " (this process or the machine was too slow)\n";
    if (link.isStreaming() || !stopConfirmed) {
        err << "error: the stream did not stop\n";
        return ExitCommandFailed;
    }
    return ExitOk;
}
