#include "StreamCommand.h"

#include "CliCommon.h"
#include "CommandLine.h"

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
    CommandLine line(QStringLiteral("stream"), QStringLiteral("LINK --rate R --seconds S [--out FILE]"),
                     QStringLiteral("Streams at R Hz for S seconds, stops the stream and prints the samples\n"
                                    "received, the samples dropped because they were not taken in time, the\n"
                                    "achieved rate and the resynchronisations.\n")
                         + linkArgumentHelp);
    const QString rateName = QStringLiteral("rate"), secondsName = QStringLiteral("seconds"),
                  outName = QStringLiteral("out");
    line.addOptions({
        {rateName, QStringLiteral("Stream rate, 1 to 500 Hz."), QStringLiteral("R")},
        {secondsName, QStringLiteral("How long to stream, in seconds (up to 86400)."), QStringLiteral("S")},
        {outName,
         QStringLiteral("Write every sample to FILE in the recording format of the application (positions in "
                        "volts) and FILE.json with what was recorded."),
         QStringLiteral("FILE")},
    });
    LinkTarget target;
    int exitCode = ExitOk;
    if (!parseLinkCommand(line, arguments, 0, out, err, target, exitCode))
        return exitCode;
    if (!line.isSet(rateName) || !line.isSet(secondsName))
        return line.usageError(err, QStringLiteral("stream needs --rate and --seconds"));
    int rate = 0;
    double seconds = 0;
    if (!line.intValue(rateName, 1, 500, rate) || !line.positiveValue(secondsName, seconds) || seconds > 86400)
        return line.usageError(err, QStringLiteral("--rate takes 1 to 500 Hz and --seconds a positive number"));
    const QString outPath = line.value(outName);

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
