// The recording hand-off: which samples become lines, the first line's
// time, per-controller files, metadata, flushing while recording, removal
// of a controller and a full disk.

#include "RecordTestUtil.h"

#include "detectors/StageDetectors.h"
#include "recording/Recorder.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

RecordSource source(int connection, const QString &label, const StageDetectors &detectors = StageDetectors())
{
    RecordSource s;
    s.connection = connection, s.info.label = label, s.info.controllerId = "ID-" + label, s.info.firmware = 31;
    s.info.address = "127.0.0.1:" + QString::number(2000 + connection), s.info.detectors = detectors;
    return s;
}

// Sample number n of a controller: arrives at 1000 + 2n ms, carries n in x1.
StreamSample numbered(int n, int tag = 0)
{
    StreamSample s;
    s.time = 1000 + 2 * n, s.x1 = qint16(n), s.y1 = qint16(tag), s.intensity1 = 12345;
    return s;
}

// Sample numbers in a file recorded from numbered() samples; -1 for a line
// whose ms column does not match its number (the first line is at 0).
QList<int> recordedNumbers(const RecordingText &text)
{
    QList<int> numbers;
    int first = -1;
    for (const auto &row : text.rows) {
        const int n = qRound(row.value(1).toDouble() * 1000);
        first = first < 0 ? n : first;
        numbers << (row.value(0) == QByteArray::number(2 * (n - first)) ? n : -1);
    }
    return numbers;
}

// Values of the metadata beside a recording named by dotted paths
// ("stages.0.unit"), as text.
QStringList meta(const QString &recording, const QStringList &paths)
{
    QStringList values;
    for (const QString &path : paths) {
        QJsonValue v = readJson(recording);
        for (const QString &key : path.split('.'))
            v = v.isArray() ? v.toArray().at(key.toInt()) : v.toObject().value(key);
        values << v.toVariant().toString();
    }
    return values;
}

} // namespace

class RecorderTest : public QObject
{
    Q_OBJECT
private slots:
    void decimation()
    {
        // Sampling and save rate, trigger display, the save rate in effect, every step-th sample written.
        const struct { const char *name; int samplingRate, saveRate; bool trigger; int saveRateUsed, step; } rows[] = {
            {"every sample", 500, 500, false, 500, 1}, {"integer division", 500, 7, false, 7, 71},
            {"save rate above sampling rate", 100, 300, false, 100, 1},
            {"trigger display writes all", 500, 100, true, 100, 1}, {"trigger mode", 1000, 1000, false, 1000, 1}};
        for (const auto &r : rows) {
            QTemporaryDir dir;
            const QString path = dir.filePath("run.csv");
            StageDetectors detectors;
            detectors.triggerDisplay = r.trigger;
            Recorder recorder;
            QVERIFY2(recorder.start(path, false, {source(2, "A"), source(0, "B")}, r.samplingRate, r.saveRate), r.name);
            QVERIFY(recorder.saveRate() == r.saveRateUsed);
            QVERIFY(recorder.filePaths() == QStringList{path});
            QList<int> expected;
            for (int n = 7; n < 407; ++n) {
                recorder.offer(2, numbered(n), detectors);
                recorder.offer(0, numbered(n + 5000), detectors); // not the first source: not recorded
                recorder.offer(5, numbered(n + 9000), detectors); // not displayed
                if ((n - 7) % r.step == 0)
                    expected << n;
            }
            // The lines reach the file within about a second while recording goes on.
            QVERIFY(readJson(path)["recording"].toBool());
            if (r.step == 1 && !r.trigger)
                QTRY_COMPARE_WITH_TIMEOUT(readRecording(path).rows.size(), expected.size(), 5000);
            recorder.stop();
            QCOMPARE(recordedNumbers(readRecording(path)), expected);
            QCOMPARE(meta(path, {"saveRateHz", "samplingRateHz", "linesWritten", "controller.label", "recording"}),
                     QStringList({QString::number(r.saveRateUsed), QString::number(r.samplingRate),
                                  QString::number(expected.size()), "A", "false"}));
        }
    }

    // "Save all displayed systems": one file per controller named after its
    // label, each with its own units, first-sample time and metadata. A
    // controller removed while recording gets its file closed; the connections
    // after it move down and keep their files.
    void filesPerController()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("run1.csv"), fileA = dir.filePath("run1_A.csv"), fileB = dir.filePath("run1_B.csv");
        const StageDetectors mm(DetectorPSD, 50, 1, DetectorNone, 50, 0, false), volts;
        const StageDetectors um(DetectorQD, 80, 1, DetectorWID, 65, 1, false);
        Recorder recorder;
        QVector<RecordSource> sources{source(3, "A", mm), source(1, "B", um)};
        sources[0].storeDroppedAtStart = 10;
        QVERIFY(recorder.start(path, true, sources, 500, 500));
        QCOMPARE(recorder.filePaths(), (QStringList{fileA, fileB}));
        for (int n = 0; n < 50; ++n) {
            recorder.offer(1, numbered(n + 100, 1), volts);
            recorder.offer(3, numbered(n, 3), volts);
        }
        recorder.removeConnection(1);
        QCOMPARE(recorder.filePaths(), QStringList{fileA});
        recorder.offer(2, numbered(50, 3), volts); // A is connection 2 now
        recorder.offer(1, numbered(50, 9), volts); // the one that moved into index 1 is not recorded
        recorder.stop([](int c) { return c == 2 ? qint64(17) : qint64(0); });

        const RecordingText a = readRecording(fileA), b = readRecording(fileB);
        QVERIFY(a.columns.startsWith("ms\tX1(mm)\tY1(mm)\tI1(V)\tX2(V)"));
        QVERIFY(a.emptyLine.isEmpty());
        QVERIFY(b.columns.startsWith("ms\tX1(" + QString::fromUtf8("µm").toLocal8Bit() + ")"));
        const QList<int> numbersA = recordedNumbers(a), numbersB = recordedNumbers(b);
        QVERIFY(numbersA.size() == 51);
        QVERIFY(!numbersA.contains(-1));
        QVERIFY(!numbersB.contains(-1));
        QCOMPARE(numbersB.first(), 100);
        for (const auto *text : {&a, &b}) // tag 3 (A) or 1 (B) in y1, written in volts
            for (const auto &row : text->rows)
                QCOMPARE(row.value(2), QByteArray(text == &a ? "0.003" : "0.001"));
        QCOMPARE(meta(fileA, {"samplesSkipped", "stages.0.unit", "error"}), QStringList({"7", "mm", ""}));
        QCOMPARE(meta(fileB, {"controller.id", "stages.0.beamDiameterUm", "stages.1.detector", "linesWritten"}),
                 QStringList({"ID-B", "80", "WID", "50"}));
        QVERIFY(meta(fileB, {"error"})[0].contains("removed"));
    }

    void refusedStarts()
    {
        QTemporaryDir dir;
        Recorder recorder;
        const QString path = dir.filePath("run.csv"), missing = dir.filePath("missing/run.csv");
        QVERIFY(!recorder.start(path, false, {source(0, "A")}, 500, 0));
        QVERIFY(!recorder.start(path, false, {}, 500, 100));
        QVERIFY(!recorder.start(missing, false, {source(0, "A")}, 500, 100));
        QVERIFY(recorder.errorString().contains(missing));
        // An existing per-controller file that may not be overwritten.
        QFile existing(dir.filePath("run_B.csv"));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        QVERIFY(existing.write("keep me") == 7);
        existing.close();
        QStringList asked;
        recorder.setOverwriteQuestion([&asked](const QString &file) { return asked << file, false; });
        QVERIFY(!recorder.start(path, true, {source(0, "A"), source(1, "B")}, 500, 100));
        QCOMPARE(asked, QStringList{existing.fileName()});
        QVERIFY(!recorder.isRecording());
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QVERIFY(existing.readAll() == "keep me");
        recorder.setOverwriteQuestion({});
        QVERIFY(recorder.start(path, true, {source(0, "A"), source(1, "A")}, 500, 100));
        QCOMPARE(recorder.filePaths(), (QStringList{dir.filePath("run_A.csv"), dir.filePath("run_A_2.csv")}));
        QVERIFY(!recorder.start(path, false, {source(0, "A")}, 500, 100));
        QVERIFY(recorder.isRecording()); // already recording
    }

    // A file-size limit stands in for a full disk: the recording reports the
    // file and the reason, and the file keeps every complete line.
    void fullDisk()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("full.csv");
        constexpr rlim_t limit = 20000;
        rlimit old{}, limited{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
        QVERIFY(getrlimit(RLIMIT_FSIZE, &limited) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        limited.rlim_cur = limit;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limited) == 0);
        Recorder recorder;
        QSignalSpy failed(&recorder, &Recorder::writeFailed);
        const bool started = recorder.start(path, false, {source(0, "A")}, 500, 500);
        // About 60 bytes a line: the limit is reached after some 330 lines.
        for (int n = 0; started && n < 2000 && failed.isEmpty(); ++n) {
            recorder.offer(0, numbered(n), StageDetectors());
            if (n % 100 == 99)
                QTest::qWait(300); // let the flush timer write
        }
        recorder.stop();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(started);
        QVERIFY(failed.size() == 1);
        const QString message = failed.first().first().toString();
        QVERIFY2(message.contains(path), qPrintable(message));
        QVERIFY2(message.contains("too large", Qt::CaseInsensitive), qPrintable(message));
        const RecordingText text = readRecording(path);
        QVERIFY(QFileInfo(path).size() <= qint64(limit));
        QVERIFY(text.endsWithFeed);
        QVERIFY(text.rows.size() > 200);
        for (int i = 0; i < text.rows.size(); ++i)
            QCOMPARE(qMakePair(text.rows[i].size(), qRound(text.rows[i][1].toDouble() * 1000)), qMakePair(11, i));
        const QStringList written = meta(path, {"linesWritten", "linesLost", "error"});
        QCOMPARE(written[0].toInt(), text.rows.size());
        QVERIFY(written[1].toInt() > 0);
        QVERIFY(written[2].contains("too large", Qt::CaseInsensitive));
    }
};

QTEST_GUILESS_MAIN(RecorderTest)
#include "tst_recorder.moc"
