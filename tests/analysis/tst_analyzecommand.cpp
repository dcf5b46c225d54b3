// "beamstab-cli analyze": the report of a recording with known content, the
// refusals of bad command lines and files, and the picture of --png through
// the tool itself. The figures are known answers of tst_jitteranalysis;
// here, that each reaches its own axis and line of the report.

#include "AnalyzeCommand.h"

#include "detectors/DetectorFactory.h"
#include "recording/RecordFormat.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <random>

namespace {

// 60 s at 500 Hz in volts: stage 1 x a 20 Hz sine of 0.1 V plus 10 mV noise,
// stage 1 y 10 mV noise, stage 2 x a random walk, stage 2 y constant; the
// stage 1 x actuator rises 0.5 V per minute from 8 V, the others stay at 5 V.
void writeRecording(const QString &path, int samples)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    auto volts = createDetector(DetectorNone);
    file.write(RecordFormat::header(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)), *volts, *volts));
    std::mt19937_64 rng(11);
    std::normal_distribution<double> noise(0.0, 10.0);
    double walk = 0;
    char line[RecordFormat::maxLineLength];
    for (int i = 0; i < samples; ++i) {
        StreamSample s;
        s.x1 = qint16(std::lround(100 * std::sin(2 * M_PI * 20.0 * i / 500) + noise(rng)));
        s.y1 = qint16(std::lround(noise(rng)));
        walk += noise(rng) * 0.2;
        s.x2 = qint16(std::lround(walk));
        s.y2 = 250, s.intensity1 = s.intensity2 = 3000, s.rangeY1 = s.rangeX2 = s.rangeY2 = 5000;
        s.rangeX1 = qint16(8000 + i / 60); // 500 / 60 mV per s
        file.write(line, RecordFormat::formatLine(line, quint32(i * 2), s, *volts, *volts));
    }
}

// The report's block of one stage and axis.
QString block(const QString &report, const QString &axis)
{
    const int from = report.indexOf(axis), to = report.indexOf(QStringLiteral("\n\n"), from);
    return from < 0 ? QString() : report.mid(from, to < 0 ? -1 : to - from);
}

// The value after a label in the report's block of one stage and axis; -1
// when there is none.
double valueAfter(const QString &report, const QString &axis, const QString &label)
{
    const QRegularExpression re(QRegularExpression::escape(label) + QStringLiteral(" ([-0-9.e+]+|n/a)"));
    const auto match = re.match(block(report, axis));
    return !match.hasMatch() ? -1 : match.captured(1) == QLatin1String("n/a") ? qQNaN() : match.captured(1).toDouble();
}

} // namespace

class AnalyzeCommandTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_recording = m_dir.filePath(QStringLiteral("run.csv"));
        writeRecording(m_recording, 30000);
    }

    void reportsKnownContent()
    {
        QString output, errors;
        QTextStream out(&output), err(&errors);
        QCOMPARE(runAnalyzeCommand({m_recording, QStringLiteral("--segment"), QStringLiteral("2048")}, out, err), 0);
        QVERIFY2(errors.isEmpty(), qPrintable(errors + output));
        QVERIFY2(output.contains("samples: 30000 at 500 Hz (from the time column), 60.0 s"), qPrintable(errors + output));
        QVERIFY(output.contains(QStringLiteral("segment 2048 samples, resolution 0.2441 Hz, 28 segments")));

        const QString x1 = QStringLiteral("stage 1 x (V)"), y1 = QStringLiteral("stage 1 y (V)");
        const double expected = std::hypot(0.1 / std::sqrt(2.0), 0.01);
        QVERIFY2(std::abs(valueAfter(output, x1, QStringLiteral("  rms")) / expected - 1) < 0.02, qPrintable(output));
        QVERIFY(std::abs(valueAfter(output, x1, QStringLiteral("10-100 Hz")) / expected - 1) < 0.05);
        QVERIFY(QRegularExpression(QStringLiteral("asd peaks:  20\\.0\\d Hz")).match(block(output, x1)).hasMatch());
        QVERIFY(block(output, y1).contains(QStringLiteral("asd peaks: none")));
        QVERIFY(std::abs(valueAfter(output, y1, QStringLiteral("0.01 s")) / (0.01 / std::sqrt(5.0)) - 1) < 0.1);
        QVERIFY(std::isnan(valueAfter(output, y1, QStringLiteral("100 s")))); // beyond a third of 60 s
        QCOMPARE(qMakePair(valueAfter(output, "stage 2 y (V)", "mean"), valueAfter(output, "stage 2 y (V)", "  rms")), qMakePair(0.25, 0.0));
        // Headroom: 8.5 V at the end, 1.5 V to go at 0.5 V/min: 3 minutes; the only warning.
        QVERIFY2(output.contains(QStringLiteral("headroom: actuator 8.50 V, 1.50 V from 10 V; drift 0.5 V/min over the last 60 s; "
                                                "10 V reached in 3.0 min  WARNING")), qPrintable(output));
        QVERIFY(output.contains(QStringLiteral("actuator 5.00 V, 5.00 V from 0 V; drift 0 V/min over the last 60 s; no drift towards a limit")));
        QCOMPARE(output.count(QStringLiteral("WARNING")), 1);
    }

    void refusals()
    {
        const QString bad = QStringLiteral("BAD");
        const QByteArray tooShort = "Start: 2026-01-01T00:00:00\nms\tX1(V)\tY1(V)\tI1(V)\tX2(V)\tY2(V)\tI2(V)"
                                    "\tRX1(V)\tRY1(V)\tRX2(V)\tRY2(V)\n\n0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\n";
        // Arguments, content written to bad.csv first when not empty, exit code and message.
        const struct { QStringList args; QByteArray content; int exitCode; const char *message; } rows[] = {
            {{}, {}, 2, "no recording named"}, {{bad, bad}, {}, 2, "unexpected argument"},
            {{bad, "--fast"}, {}, 2, "unexpected argument '--fast'"}, {{bad, "--segment", "4"}, {}, 2, "--segment"},
            {{bad, "--rate", "fast"}, {}, 2, "--rate"}, {{bad, "--png"}, {}, 2, "--png"}, {{bad}, {}, 3, "cannot read"},
            {{bad}, "x,y\n1,2\n", 3, "not a recording"}, {{bad}, tooShort, 3, "holds 1 samples"}};
        for (const auto &row : rows) {
            const QString path = m_dir.filePath(row.content.isEmpty() ? QStringLiteral("absent.csv") : QStringLiteral("bad.csv"));
            QFile f(path);
            QVERIFY(row.content.isEmpty() || (f.open(QIODevice::WriteOnly) && f.write(row.content) && f.flush()));
            QString output, errors;
            QTextStream out(&output), err(&errors);
            QCOMPARE(runAnalyzeCommand(QStringList(row.args).replaceInStrings(bad, path), out, err), row.exitCode);
            QVERIFY2(errors.contains(row.message), qPrintable(errors));
            QVERIFY2(output.isEmpty(), qPrintable(errors));
        }
    }

    void pictureThroughTheTool()
    {
        const QString picture = m_dir.filePath(QStringLiteral("run.png"));
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM")); // the tool picks offscreen itself
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral(BEAMSTAB_CLI), {QStringLiteral("analyze"), m_recording, QStringLiteral("--png"), picture});
        QVERIFY(tool.waitForFinished(120000));
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
        QVERIFY(tool.readAllStandardOutput().contains("picture: " + picture.toUtf8()));
        QCOMPARE(QImage(picture).size(), QSize(1200, 1200));
        tool.start(QStringLiteral(BEAMSTAB_CLI), {QStringLiteral("analyze"), m_recording, QStringLiteral("--png"),
                                                  m_dir.filePath(QStringLiteral("no/such/dir/run.png"))});
        QVERIFY(tool.waitForFinished(120000));
        QVERIFY(tool.exitCode() == 5);
        QVERIFY(tool.readAllStandardError().contains("cannot write"));
    }

private:
    QTemporaryDir m_dir;
    QString m_recording;
};

QTEST_MAIN(AnalyzeCommandTest)
#include "tst_analyzecommand.moc"
