// Known answers of the jitter analysis: spectra of white noise and sines,
// agreement of the cumulative and band RMS, Allan deviation, actuator
// headroom, and reading recordings.

#include "analysis/AllanDeviation.h"
#include "analysis/Headroom.h"
#include "analysis/JitterAnalysis.h"
#include "analysis/RecordReader.h"
#include "analysis/WelchDensity.h"

#include "detectors/DetectorFactory.h"
#include "recording/RecordFormat.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <numeric>
#include <random>

namespace {

std::vector<double> whiteNoise(std::size_t n, double sigma, unsigned seed, double offset = 0)
{
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal(0.0, sigma);
    std::vector<double> x(n);
    for (double &v : x)
        v = offset + normal(rng);
    return x;
}

// |a / b - 1| < tolerance, with both values in the failure message.
#define VERIFY_RATIO(a, b, tolerance) \
    QVERIFY2(std::abs((a) / (b) - 1) < (tolerance), qPrintable(QStringLiteral("%1 vs %2").arg(a).arg(b)))

// Mean PSD over the bins whose frequency lies in [from, to) of the Nyquist
// frequency (fractions), DC and Nyquist bins left out.
double meanPsd(const Spectrum &s, double from, double to)
{
    double sum = 0;
    int count = 0;
    for (int k = 1; k + 1 < s.bins(); ++k) {
        const double f = s.frequency[std::size_t(k)] / (s.sampleRate / 2);
        if (f >= from && f < to)
            sum += s.asd[std::size_t(k)] * s.asd[std::size_t(k)], ++count;
    }
    return sum / count;
}

} // namespace

class JitterAnalysisTest : public QObject
{
    Q_OBJECT
private slots:
    void whiteNoiseKnownAnswers()
    {
        const struct { double sigma, rate; int segment, samples; } rows[] = {
            {0.01, 500, 4096, 300000}, {2.5, 100, 1024, 60000}, {1.0, 333, 1001, 50000} /* odd segment */,
            {0.3, 500, 65536, 20000} /* segment longer than the record */};
        for (const auto &r : rows) {
            const auto x = whiteNoise(std::size_t(r.samples), r.sigma, 1234, 4.0);
            const Spectrum s = Spectrum::welch(x.data(), x.size(), r.rate, r.segment);
            QVERIFY(s.segmentLength == std::min(r.segment, r.samples));
            QVERIFY(s.bins() == s.segmentLength / 2 + 1);
            QVERIFY(std::abs(s.frequency.back() - (s.segmentLength % 2 ? r.rate / 2 - s.resolution / 2 : r.rate / 2)) < 1e-9);
            // Flat at sigma * sqrt(2 / fs), in the low, middle and high thirds alike.
            for (double from : {0.0, 1.0 / 3, 2.0 / 3})
                VERIFY_RATIO(meanPsd(s, from, from + 1.0 / 3), r.sigma * r.sigma * 2 / r.rate, r.samples < 30000 ? 0.08 : 0.04);
            // A band holding a share of the frequencies holds that share of the power.
            const auto cumulative = s.cumulativeRms();
            QVERIFY(std::is_sorted(cumulative.rbegin(), cumulative.rend()));
            VERIFY_RATIO(std::pow(s.bandRms(0, r.rate * 0.13) / cumulative.front(), 2), 0.26, 0.1);
            // The Allan deviation of white noise is sigma at the sample time.
            const auto allan = AllanDeviation(x.data(), x.size(), r.rate).octaves().front();
            QCOMPARE(allan.tau, 1 / r.rate);
            VERIFY_RATIO(allan.deviation, r.sigma, 0.08);
        }
    }

    void sineKnownAnswers()
    {
        // 500 Hz, segment 4096: bins every 0.1220703125 Hz.
        const struct { double amplitude, frequency, noise; } rows[] = {
            {0.05, 100 * 0.1220703125, 0.001} /* on a bin */, {0.05, 100.5 * 0.1220703125, 0.001} /* between bins */,
            {1.0, 187.3, 0.5} /* strong noise */, {0.002, 1.7, 0.0001}};
        const double rate = 500;
        for (const auto &r : rows) {
            auto x = whiteNoise(150000, r.noise, 99);
            for (std::size_t i = 0; i < x.size(); ++i)
                x[i] += r.amplitude * std::sin(2 * M_PI * r.frequency * double(i) / rate + 0.3);
            const auto a = JitterAnalysis::analyzeAxis(x, {}, rate, JitterAnalysis::Settings());
            const Spectrum &s = a.spectrum;
            QVERIFY2(!a.peaks.empty(), qPrintable(QString::number(r.frequency)));
            QVERIFY2(std::abs(a.peaks.front().frequency - r.frequency) <= s.resolution, qPrintable(QString::number(r.frequency)));
            // The sine's RMS sits within a few bins of its frequency.
            const double lineRms = s.bandRms(r.frequency - 4 * s.resolution, r.frequency + 4 * s.resolution);
            VERIFY_RATIO(lineRms, std::hypot(r.amplitude / std::sqrt(2.0), r.noise * std::sqrt(16 * s.resolution / rate)), 0.02);
            VERIFY_RATIO(a.rms, std::hypot(r.amplitude / std::sqrt(2.0), r.noise), 0.02);
            VERIFY_RATIO(a.cumulativeRms.front(), a.rms, 0.02);
            // The standard bands split the spectrum without gaps or overlaps.
            double power = std::pow(s.bandRms(0, 0.1), 2);
            for (const auto &b : a.bands)
                power += b.rms * b.rms;
            QVERIFY(std::abs(std::sqrt(power) / a.cumulativeRms.front() - 1) < 1e-12);
        }
    }

    void allanDeviation()
    {
        // Written out with explicit averages on a short record, every m allowed.
        const auto record = whiteNoise(61, 1.0, 8, 100.0);
        const double *v = record.data();
        const AllanDeviation direct(v, record.size(), 10);
        for (int m = 1; 2 * m <= 61; ++m) {
            double sum = 0;
            int terms = 0;
            for (int j = 0; j + 2 * m <= 61; ++j, ++terms)
                sum += std::pow((std::accumulate(v + j + m, v + j + 2 * m, 0.0) - std::accumulate(v + j, v + j + m, 0.0)) / m, 2);
            QVERIFY2(std::abs(direct.at(m) - std::sqrt(sum / (2 * terms))) < 1e-9, qPrintable(QString::number(m)));
        }
        // Up to a third of the record; octaves 1, 2, 4, 8, 16.
        QVERIFY(direct.maxFactor() == 20);
        QVERIFY(direct.octaves().size() == 5);
        QVERIFY(direct.atTau(2.0) == direct.at(20));
        QVERIFY(std::isnan(direct.atTau(2.2)));
        QVERIFY(std::isnan(direct.at(31)));
        QVERIFY(std::isnan(direct.atTau(0.05)));
    }

    void headroom()
    {
        // Start and drift of the actuator voltage, noise, record length; then
        // the voltage at the end, its distance to the nearer limit, the time
        // to reach it (inf: none) and whether that warns.
        const struct { const char *name; double start, drift, noise, seconds, voltage, distance, toLimit; bool warning; } rows[] = {
            {"centred, still", 5.0, 0.0, 0.0, 60.0, 5.0, 5.0, qInf(), false},
            {"rising, an hour left", 4.0, 0.001, 0.02, 200.0, 4.2, 4.2, 5800.0, false},
            {"falling, minutes left", 3.0, -0.005, 0.02, 300.0, 1.5, 1.5, 300.0, true},
            {"close to 10 V", 9.5, 0.0, 0.01, 30.0, 9.5, 0.5, qInf(), true},
            {"near 0 V, drifting away", 0.8, 0.0005, 0.0, 100.0, 0.85, 0.85, 18300.0, true},
            // Only the last two minutes count: an old excursion does not.
            {"long record, fit of the end", 5.0, 0.0, 0.0, 600.0, 5.0, 5.0, qInf(), false}};
        const double rate = 100;
        for (const auto &r : rows) {
            auto v = whiteNoise(std::size_t(r.seconds * rate), r.noise, 3);
            for (std::size_t i = 0; i < v.size(); ++i)
                v[i] += r.start + r.drift * double(i + 1) / rate;
            if (r.seconds > 300) // a fast ramp long ago, then still
                for (std::size_t i = 0; i < std::size_t(100 * rate); ++i)
                    v[i] = 9.9 - 0.001 * double(i);
            const Headroom h = Headroom::compute(v.data(), v.size(), rate, 120);
            const QString what = QString("%1: %2 %3 %4").arg(r.name).arg(h.voltage).arg(h.distance).arg(h.secondsToLimit);
            QVERIFY2(h.valid, qPrintable(what));
            QVERIFY2(h.fitSpan == std::min(r.seconds, 120.0), qPrintable(what));
            QVERIFY2(h.isWarning() == r.warning, qPrintable(what));
            QVERIFY2(std::abs(h.voltage - r.voltage) < 0.01, qPrintable(what));
            QVERIFY2(std::abs(h.distance - r.distance) < 0.01, qPrintable(what));
            QVERIFY2(std::isinf(r.toLimit) ? h.secondsToLimit > 1e4 : std::abs(h.secondsToLimit / r.toLimit - 1) < 0.02, qPrintable(what));
            QVERIFY(!Headroom::compute(v.data(), 0, rate).valid);
        }
    }

    void readsRecordings()
    {
        const QByteArray head = "Start: 2026-12-06T01:02:03\n"
                                "ms\tX1(\xB5m)\tY1(\xB5m)\tI1(V)\tX2(V)\tY2(V)\tI2(V)\tRX1(V)\tRY1(V)\tRX2(V)\tRY2(V)\n\n";
        const QByteArray line1 = "0\t12.5\t-3.25\t2.51\t0.120\t-0.033\t3.02\t5.01\t4.99\t5.02\t5.00\n";
        const QByteArray line2 = "2\t12.0\tnan\t2.51\t0.121\t-0.030\t3.02\t5.02\t4.98\t5.02\t5.01\n";
        // The text, the samples read (-1: refused) and the refusal's words.
        const struct { const char *name; QByteArray text; int samples; const char *error; } rows[] = {
            {"two lines", head + line1 + line2, 2, ""}, {"cut short", head + line1 + line2.left(20), 1, ""},
            {"utf-8 unit, CRLF", QByteArray(head).replace("\xB5", "\xC2\xB5").replace("\n", "\r\n") + line1, 1, ""},
            {"header only", head, 0, ""}, {"not a recording", "ms\tX1\n", -1, "line 1"},
            {"column missing", QByteArray(head).replace("RY2(V)", "Q(V)") + line1, -1, "no column RY2"},
            {"no empty line", QByteArray(head).replace("\n\n", "\n") + line1, -1, "line 3"},
            {"short line", head + line1 + "4\t1\t2\n" + line2, -1, "line 5"},
            {"text in a number", head + line1 + QByteArray(line2).replace("0.121", "0,121"), -1, "line 5"}};
        for (const auto &row : rows) {
            JitterRecord r;
            QString message;
            QVERIFY2(RecordReader::parse(row.text, r, message) == (row.samples >= 0), row.name);
            QVERIFY2(message.contains(row.error), qPrintable(message));
            if (row.samples < 0)
                continue;
            QCOMPARE(int(r.samples()), row.samples);
            QCOMPARE(r.positionUnit[0] + r.positionUnit[1] + r.start.toString(Qt::ISODate), QStringLiteral("µmV2026-12-06T01:02:03"));
            for (auto &stage : r.range) {
                QCOMPARE(int(stage[0].size()), row.samples);
                QCOMPARE(int(stage[1].size()), row.samples);
            }
            if (row.samples >= 1)
                QCOMPARE(std::make_tuple(r.position[0][0][0], r.position[0][1][0], r.position[1][1][0], r.range[0][1][0], r.range[1][1][0]),
                         std::make_tuple(12.5, -3.25, -0.033, 4.99, 5.00));
            if (row.samples == 2) {
                // Exactly the double a full conversion gives.
                QVERIFY(r.position[1][0][1] == std::strtod("0.121", nullptr));
                QVERIFY(r.position[1][1][1] == std::strtod("-0.030", nullptr));
                QVERIFY(std::isnan(r.position[0][1][1]));
                QVERIFY(r.sampleRate == 500.0);
            }
        }
        // Every column, also those the jitter record leaves out.
        RecordTable table;
        QString message;
        QVERIFY(!RecordReader::parseTable(head + line1 + line2 + "4\t1\n", table, message));
        QVERIFY2(message.contains("line 6"), qPrintable(message));
        QVERIFY(RecordReader::parseTable(head + line1 + line2, table, message));
        QCOMPARE(int(table.rows()), 2);
        QCOMPARE(std::make_tuple(table.column("I2"), table.column("ms"), table.column("Q")), std::make_tuple(6, 0, -1));
        QCOMPARE(std::make_tuple(table.values[0][1], table.values[3][0], table.values[6][1]), std::make_tuple(2.0, 2.51, 3.02));
    }

    // A file in the recorder's own format whose arrival times come in bursts:
    // the .json's save rate wins over them.
    void readsWhatTheRecorderWrites()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("run.csv"));
        QFile file(path), json(path + QStringLiteral(".json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(json.open(QIODevice::WriteOnly));
        json.write("{\"samplingRateHz\": 200, \"saveRateHz\": 200, \"triggerMode\": false}");
        auto stage1 = createDetector(DetectorQD), stage2 = createDetector(DetectorPSD);
        stage1->calculation = 1;
        file.write(RecordFormat::header(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)), *stage1, *stage2));
        char line[RecordFormat::maxLineLength];
        for (int i = 0; i < 1000; ++i) {
            StreamSample s;
            s.x2 = qint16(i);
            file.write(line, RecordFormat::formatLine(line, quint32(i / 20 * 100), s, *stage1, *stage2));
        }
        file.close(), json.close();
        JitterRecord r;
        QString error;
        QVERIFY2(RecordReader::readFile(path, r, error), qPrintable(error));
        QVERIFY(r.samples() == 1000);
        QVERIFY(r.sampleRate == 200.0);
        QVERIFY(r.position[1][0][999] == 0.999);
        QCOMPARE(r.positionUnit[0] + r.positionUnit[1], stage1->unitText() + QStringLiteral("V"));
        QVERIFY(!RecordReader::readFile(dir.filePath(QStringLiteral("missing.csv")), r, error));
        QVERIFY(error.contains("missing.csv"));
    }
};

QTEST_GUILESS_MAIN(JitterAnalysisTest)
#include "tst_jitteranalysis.moc"
