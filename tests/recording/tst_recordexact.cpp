// End to end: a simulated controller in benchmark mode streams a running
// counter over a real TCP link; the samples are handed to the recorder the
// way the display tick does, at save rate = sampling rate. Every counter
// value must be in the file exactly once, in order.

#include "RecordTestUtil.h"
#include "SimulatorLink.h"

#include "detectors/StageDetectors.h"
#include "recording/Recorder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

class RecordExactTest : public QObject
{
    Q_OBJECT
private slots:
    void everySampleOnce_data();
    void everySampleOnce();
};

void RecordExactTest::everySampleOnce_data()
{
    QTest::addColumn<int>("firmware");
    QTest::newRow("firmware 31") << 31;
    QTest::newRow("firmware 10") << 10;
}

void RecordExactTest::everySampleOnce()
{
    QFETCH(int, firmware);
    Simulator sim;
    SimConfig config;
    config.bench = true;
    config.firmware = firmware;
    auto link = connectToSimulator(sim, config);
    QVERIFY(link);
    link->setFirmwareVersion(firmware);

    QTemporaryDir dir;
    const QString path = dir.filePath("exact.csv");
    const StageDetectors volts; // stage-2 positions in volts keep the counter exactly
    Recorder recorder;
    RecordSource source;
    source.connection = 0;
    source.info.label = "SIM";
    QVERIFY(recorder.start(path, false, {source}, 500, 500));
    QVERIFY(startStream(*link, 500));

    // The display tick: every 10 ms take what arrived and hand it over.
    qint64 taken = 0;
    auto tick = [&] {
        for (StreamSample s; link->takeSample(s); ++taken)
            recorder.offer(0, s, volts);
    };
    QElapsedTimer timer;
    for (timer.start(); timer.elapsed() < 3000; QTest::qWait(10))
        tick();
    link->clearLiveStream();
    QByteArray reply;
    link->waitForReply(reply);
    tick();
    recorder.stop();

    const RecordingText text = readRecording(path);
    QVERIFY(text.ok && text.endsWithFeed);
    QCOMPARE(qint64(text.rows.size()), taken);
    QVERIFY2(taken >= 1000, qPrintable(QString::number(taken)));
    quint32 previousMs = 0;
    for (int i = 0; i < text.rows.size(); ++i) {
        const auto &row = text.rows[i];
        QCOMPARE(row.size(), 11);
        const auto low = quint16(qint16(qRound(row[4].toDouble() * 1000)));
        const auto high = quint16(qint16(qRound(row[5].toDouble() * 1000)));
        // The start reply is message 0 and not stored: line i holds message i + 1.
        QCOMPARE(quint32(high) << 16 | low, quint32(i + 1));
        const quint32 ms = row[0].toUInt();
        QVERIFY(i == 0 ? ms == 0 : ms >= previousMs);
        previousMs = ms;
    }
    QFile meta(path + ".json");
    QVERIFY(meta.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(meta.readAll()).object()["linesWritten"].toInt(), text.rows.size());
}

QTEST_GUILESS_MAIN(RecordExactTest)
#include "tst_recordexact.moc"
