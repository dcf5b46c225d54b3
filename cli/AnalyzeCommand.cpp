#include "AnalyzeCommand.h"

#include "CliCommon.h"
#include "CommandLine.h"

#include "analysis/JitterAnalysis.h"
#include "analysis/RecordReader.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>

#include <cmath>
#include <cstring>

namespace {

QString number(double v)
{
    if (std::isnan(v))
        return QStringLiteral("n/a");
    return QString::number(v, 'g', 4);
}

QString duration(double seconds);

QString duration(double limit, double seconds)
{
    if (std::isinf(seconds))
        return QStringLiteral("no drift towards a limit");
    return QStringLiteral("%1 V reached in %2").arg(limit).arg(duration(seconds));
}

QString duration(double seconds)
{
    if (seconds < 120)
        return QStringLiteral("%1 s").arg(seconds, 0, 'f', 0);
    if (seconds < 7200)
        return QStringLiteral("%1 min").arg(seconds / 60, 0, 'f', 1);
    if (seconds < 2 * 86400)
        return QStringLiteral("%1 h").arg(seconds / 3600, 0, 'f', 1);
    return QStringLiteral("%1 days").arg(seconds / 86400, 0, 'f', 0);
}

QString bandName(const JitterAnalysis::Band &b)
{
    return QStringLiteral("%1-%2 Hz").arg(b.low, 0, 'g', 3).arg(b.high, 0, 'g', 4);
}

void printAxis(QTextStream &out, const JitterAnalysis::Axis &a)
{
    const QString unit = a.unit;
    out << "\nstage " << a.stage << ' ' << a.axis << " (" << unit << ")\n";
    // The spectrum leaves out what changes more slowly than one segment (each
    // segment's mean is removed), so a drifting beam has less RMS in it.
    out << "  mean " << number(a.mean) << "  rms " << number(a.rms) << "  (in the spectrum "
        << number(a.cumulativeRms.empty() ? NAN : a.cumulativeRms.front()) << ", without drift slower than one "
        << number(a.spectrum.segmentLength / a.spectrum.sampleRate) << " s segment)\n";
    out << "  band rms:";
    for (const auto &b : a.bands)
        out << "  " << bandName(b) << ' ' << number(b.rms);
    out << '\n';
    out << "  asd peaks:";
    if (a.peaks.empty())
        out << " none";
    for (const auto &p : a.peaks)
        out << "  " << QString::number(p.frequency, 'f', 2) << " Hz (" << number(p.asd) << ' ' << unit << "/sqrt(Hz))";
    out << '\n';
    out << "  allan deviation:";
    const auto &taus = JitterAnalysis::standardTaus();
    for (std::size_t i = 0; i < taus.size(); ++i)
        out << "  " << taus[i] << " s " << number(a.allanAtStandardTaus[i]);
    out << '\n';
    const Headroom &h = a.headroom;
    if (!h.valid) {
        out << "  headroom: n/a\n";
        return;
    }
    out << "  headroom: actuator " << QString::number(h.voltage, 'f', 2) << " V, "
        << QString::number(h.distance, 'f', 2) << " V from " << h.nearestLimit << " V; drift "
        << QString::number(h.drift * 60, 'g', 3) << " V/min over the last " << QString::number(h.fitSpan, 'f', 0)
        << " s; " << duration(h.headingLimit, h.secondsToLimit)
        << (h.isWarning() ? "  WARNING: close to the end of the range" : "") << '\n';
}

AnalyzePictureWriter pictureWriter = nullptr;

} // namespace

void setAnalyzePictureWriter(AnalyzePictureWriter writer)
{
    pictureWriter = writer;
}

bool analyzeNeedsGui(int argc, char *argv[])
{
    int i = 1;
    while (i < argc && std::strcmp(argv[i], "--log") == 0)
        ++i;
    if (i >= argc || std::strcmp(argv[i], "analyze") != 0)
        return false;
    // "--png PICTURE", "--png=PICTURE" and their one-dash forms, up to "--".
    for (++i; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const char *name = argv[i];
        if (*name != '-')
            continue;
        name += name[1] == '-' ? 2 : 1;
        if (std::strncmp(name, "png", 3) == 0 && (name[3] == '\0' || name[3] == '='))
            return true;
    }
    return false;
}

int runAnalyzeCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    CommandLine line(
        QStringLiteral("analyze"), QStringLiteral("FILE [--segment N] [--rate HZ] [--fit-minutes M] [--png PICTURE]"),
        QStringLiteral("Reads a recording of the application (or of 'stream --out') and prints per stage\n"
                       "and axis: the RMS about the mean, the RMS in the bands 0.1-1, 1-10, 10-100 Hz and\n"
                       "100 Hz to the Nyquist frequency, the highest peaks of the amplitude spectral\n"
                       "density, the Allan deviation at 0.01, 0.1, 1, 10 and 100 s where the record is\n"
                       "long enough (three times the averaging time), and the actuator headroom: the\n"
                       "distance of the piezo voltage to 0 V or 10 V and, from a straight line fitted to\n"
                       "the last minutes, the time until it reaches a limit.\n"
                       "Exit codes: 0 done, 2 bad usage, 3 the file could not be read or is not a\n"
                       "recording, 5 the picture could not be written."));
    line.setErrorPrefix(QStringLiteral("analyze: "));
    const QString segmentName = QStringLiteral("segment"), rateName = QStringLiteral("rate"),
                  fitName = QStringLiteral("fit-minutes"), pngName = QStringLiteral("png");
    line.addOptions({
        {segmentName,
         QStringLiteral("Welch segment length in samples, 8 to 16777216 (default 4096; Hann window, 50% "
                        "overlap; the resolution is the rate / N)."),
         QStringLiteral("N")},
        {rateName,
         QStringLiteral("Sampling rate of the record; by default the save rate in FILE.json, else the samples "
                        "over the span of the ms column."),
         QStringLiteral("HZ")},
        {fitName, QStringLiteral("Minutes of the record the headroom's straight line is fitted to (default 2)."),
         QStringLiteral("M")},
        {pngName,
         QStringLiteral("Also draw the spectra (cumulative RMS dashed) and the Allan deviations into a PNG "
                        "picture."),
         QStringLiteral("PICTURE")},
    });
    line.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The recording to analyse."));
    int exitCode = ExitOk;
    if (!line.parse(arguments, 1, out, err, exitCode))
        return exitCode;
    double segment = 4096, rate = 0, fitMinutes = 2;
    QString error;
    for (const auto &[name, value] : {std::pair<QString, double *>{segmentName, &segment}, {rateName, &rate},
                                      {fitName, &fitMinutes}}) {
        if (error.isEmpty() && !line.positiveValue(name, *value))
            error = QStringLiteral("--%1 takes a positive number, not '%2'").arg(name, line.value(name));
    }
    if (error.isEmpty() && (segment < 8 || segment > 1 << 24 || segment != std::floor(segment)))
        error = QStringLiteral("--segment takes a whole number of samples from 8 to 16777216");
    if (error.isEmpty() && line.positionalArguments().isEmpty())
        error = QStringLiteral("no recording named");
    const QString pngPath = line.value(pngName);
    if (error.isEmpty() && line.isSet(pngName) && pngPath.isEmpty())
        error = QStringLiteral("--png needs a file name");
    if (error.isEmpty() && !pngPath.isEmpty()
        && (!pictureWriter || !qobject_cast<QGuiApplication *>(QCoreApplication::instance())))
        error = QStringLiteral("--png needs the tool's own main (a GUI application)");
    if (!error.isEmpty())
        return line.usageError(err, error);

    QElapsedTimer timer;
    timer.start();
    const QString path = line.positionalArguments().first();
    JitterRecord record;
    if (!RecordReader::readFile(path, record, error)) {
        err << "analyze: " << error << '\n';
        return ExitConnectionFailed;
    }
    const qint64 readMs = timer.elapsed();
    if (rate > 0) {
        record.sampleRate = rate;
        record.sampleRateSource = QStringLiteral("given with --rate");
    }
    if (record.samples() < 16 || !(record.sampleRate > 0)) {
        err << "analyze: '" << path << "' holds " << record.samples()
            << " samples; at least 16 with a known rate are needed (give --rate for a record without times)\n";
        return ExitConnectionFailed;
    }
    JitterAnalysis::Settings settings;
    settings.segmentLength = int(segment);
    settings.headroomFitSeconds = fitMinutes * 60;
    const auto axes = JitterAnalysis::analyze(record, settings);
    const qint64 analysisMs = timer.elapsed() - readMs;

    const Spectrum &s = axes.front().spectrum;
    out << "file: " << path << '\n';
    if (record.start.isValid())
        out << "start: " << record.start.toString(Qt::ISODate) << '\n';
    out << "samples: " << record.samples() << " at " << number(record.sampleRate) << " Hz ("
        << record.sampleRateSource << "), " << QString::number(record.seconds(), 'f', 1) << " s\n";
    out << "spectrum: Welch, Hann window, 50% overlap, segment " << s.segmentLength << " samples, resolution "
        << number(s.resolution) << " Hz, " << s.segments << " segments averaged\n";
    for (const auto &a : axes)
        printAxis(out, a);
    out << "\ntime: read " << readMs << " ms, analysis " << analysisMs << " ms\n";
    out.flush();

    if (!pngPath.isEmpty()) {
        const QString title = QStringLiteral("%1: %2 samples at %3 Hz")
                                  .arg(QFileInfo(path).fileName())
                                  .arg(record.samples())
                                  .arg(number(record.sampleRate));
        if (!pictureWriter(axes, title, pngPath, 1200, 1200, error)) {
            err << "analyze: " << error << '\n';
            return ExitCommandFailed;
        }
        out << "picture: " << pngPath << '\n';
    }
    return ExitOk;
}
