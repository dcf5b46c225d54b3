// Known answers of the jitter analysis: spectra of white noise and sines,
// Parseval agreement of the cumulative and band RMS, Allan deviation of white
// noise and of a random walk, actuator headroom, and reading recordings.

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
#include <complex>
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

double timeRms(const std::vector<double> &x)
{
    double mean = 0, squares = 0;
    for (double v : x)
        mean += v;
    mean /= double(x.size());
    for (double v : x)
        squares += (v - mean) * (v - mean);
    return std::sqrt(squares / double(x.size()));
}

// Mean PSD over the bins whose frequency lies in [from, to) of the Nyquist
// frequency (fractions), DC and Nyquist bins left out.
double meanPsd(const Spectrum &s, double from, double to)
{
    double sum = 0;
    int count = 0;
    for (int k = 1; k + 1 < s.bins(); ++k) {
        const double f = s.frequency[std::size_t(k)] / (s.sampleRate / 2);
        if (f >= from && f < to) {
            sum += s.asd[std::size_t(k)] * s.asd[std::size_t(k)];
            ++count;
        }
    }
    return sum / count;
}

// Log-log slope of the Allan deviation between factors m1 and m2.
double allanSlope(const AllanDeviation &a, int m1, int m2)
{
    return std::log(a.at(m2) / a.at(m1)) / std::log(double(m2) / m1);
}

} // namespace

class JitterAnalysisTest : public QObject
{
    Q_OBJECT
private slots:
    void whiteNoiseKnownAnswers_data()
    {
        QTest::addColumn<double>("sigma");
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("segment");
        QTest::addColumn<int>("samples");
        QTest::newRow("500 Hz, 4096") << 0.01 << 500.0 << 4096 << 300000;
        QTest::newRow("100 Hz, 1024, offset record") << 2.5 << 100.0 << 1024 << 60000;
        QTest::newRow("odd segment") << 1.0 << 333.0 << 1001 << 50000;
        QTest::newRow("segment longer than record") << 0.3 << 500.0 << 65536 << 20000;
    }

    void whiteNoiseKnownAnswers()
    {
        QFETCH(double, sigma);
        QFETCH(double, rate);
        QFETCH(int, segment);
        QFETCH(int, samples);
        const auto x = whiteNoise(std::size_t(samples), sigma, 1234, 4.0);
        const Spectrum s = Spectrum::welch(x.data(), x.size(), rate, segment);
        QCOMPARE(s.segmentLength, std::min(segment, samples));
        QCOMPARE(s.bins(), s.segmentLength / 2 + 1);
        QVERIFY(std::abs(s.frequency.back() - (s.segmentLength % 2 ? rate / 2 - s.resolution / 2 : rate / 2)) < 1e-9);

        // Flat at sigma * sqrt(2 / fs), in the low, middle and high thirds alike.
        const double expected = sigma * sigma * 2 / rate;
        const double tolerance = samples < 30000 ? 0.08 : 0.04;
        for (double from : {0.0, 1.0 / 3, 2.0 / 3}) {
            const double psd = meanPsd(s, from, from + 1.0 / 3);
            QVERIFY2(std::abs(psd / expected - 1) < tolerance, qPrintable(QString::number(std::sqrt(psd / expected))));
        }

        // Parseval: the cumulative total agrees with the time-domain RMS.
        const auto cumulative = s.cumulativeRms();
        const double rms = timeRms(x);
        QVERIFY2(std::abs(cumulative.front() / rms - 1) < 0.02, qPrintable(QString::number(cumulative.front() / rms)));
        QVERIFY(std::abs(s.bandRms(0, rate) - cumulative.front()) < 1e-12 * rms);
        for (std::size_t k = 1; k < cumulative.size(); ++k)
            QVERIFY(cumulative[k] <= cumulative[k - 1]);
        // Adjacent bands add up in power to the band they split.
        const double a = s.bandRms(0, rate * 0.13), b = s.bandRms(rate * 0.13, rate);
        QVERIFY(std::abs(std::hypot(a, b) / cumulative.front() - 1) < 1e-12);
        // A band holding a share of the frequencies holds that share of the power.
        QVERIFY(std::abs(a * a / (cumulative.front() * cumulative.front()) / 0.26 - 1) < 0.1);

        // Allan deviation falls as tau^-1/2 with sigma / sqrt(m).
        const AllanDeviation allan(x.data(), x.size(), rate);
        const auto points = allan.octaves();
        QVERIFY(!points.empty() && points.front().factor == 1 && points.front().tau == 1 / rate);
        QVERIFY(points.back().factor <= samples / 3 && points.back().factor * 2 > samples / 3);
        QVERIFY2(std::abs(points.front().deviation / sigma - 1) < 0.08, qPrintable(QString::number(points.front().deviation)));
        QVERIFY(std::abs(allanSlope(allan, 1, 64) + 0.5) < 0.03);
        QVERIFY(std::isnan(allan.at(samples / 2 + 1)));
        QVERIFY(std::isnan(allan.atTau(0.5 / rate)));
    }

    void sineKnownAnswers_data()
    {
        QTest::addColumn<double>("amplitude");
        QTest::addColumn<double>("frequency");
        QTest::addColumn<double>("noise");
        // 500 Hz, segment 4096: bins every 0.1220703125 Hz.
        QTest::newRow("on a bin") << 0.05 << 100 * 0.1220703125 << 0.001;
        QTest::newRow("between bins") << 0.05 << 100.5 * 0.1220703125 << 0.001;
        QTest::newRow("high frequency, strong noise") << 1.0 << 187.3 << 0.5;
        QTest::newRow("low frequency") << 0.002 << 1.7 << 0.0001;
    }

    void sineKnownAnswers()
    {
        QFETCH(double, amplitude);
        QFETCH(double, frequency);
        QFETCH(double, noise);
        const double rate = 500;
        auto x = whiteNoise(150000, noise, 99);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] += amplitude * std::sin(2 * M_PI * frequency * double(i) / rate + 0.3);
        JitterAnalysis::Settings settings;
        const auto a = JitterAnalysis::analyzeAxis(x, {}, rate, settings);
        const Spectrum &s = a.spectrum;

        QVERIFY(!a.peaks.empty());
        QVERIFY2(std::abs(a.peaks.front().frequency - frequency) <= s.resolution,
                 qPrintable(QString::number(a.peaks.front().frequency)));
        // The sine's RMS sits within a few bins of its frequency.
        const double lineRms = s.bandRms(frequency - 4 * s.resolution, frequency + 4 * s.resolution);
        const double noiseInBand = noise * std::sqrt(8 * s.resolution * 2 / rate);
        const double expected = std::hypot(amplitude / std::sqrt(2.0), noiseInBand);
        QVERIFY2(std::abs(lineRms / expected - 1) < 0.02,
                 qPrintable(QStringLiteral("%1 vs %2").arg(lineRms).arg(expected)));
        const double total = std::hypot(amplitude / std::sqrt(2.0), noise);
        QVERIFY(std::abs(a.rms / total - 1) < 0.02);
        QVERIFY(std::abs(a.cumulativeRms.front() / a.rms - 1) < 0.02);
        // The standard bands split the spectrum without gaps or overlaps.
        double power = std::pow(s.bandRms(0, 0.1), 2);
        for (const auto &b : a.bands)
            power += b.rms * b.rms;
        QVERIFY(std::abs(std::sqrt(power) / a.cumulativeRms.front() - 1) < 1e-12);
    }

    void welchAgreesWithDirectSums()
    {
        // Welch written out with a direct DFT, periodic Hann window, mean removed
        // per segment, half overlap, one-sided density.
        const int n = 64;
        const double rate = 250;
        auto x = whiteNoise(1000, 1.0, 7);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] += 0.8 * std::cos(2 * M_PI * 31.0 * double(i) / rate) + 0.001 * double(i);
        const int segments = (int(x.size()) - n) / (n / 2) + 1;
        std::vector<double> psd(n / 2 + 1, 0.0);
        double windowPower = 0;
        for (int i = 0; i < n; ++i)
            windowPower += std::pow(0.5 - 0.5 * std::cos(2 * M_PI * i / n), 2);
        for (int seg = 0; seg < segments; ++seg) {
            double mean = 0;
            for (int i = 0; i < n; ++i)
                mean += x[std::size_t(seg * n / 2 + i)] / n;
            for (int k = 0; k <= n / 2; ++k) {
                std::complex<double> sum = 0;
                for (int i = 0; i < n; ++i) {
                    const double w = 0.5 - 0.5 * std::cos(2 * M_PI * i / n);
                    sum += (x[std::size_t(seg * n / 2 + i)] - mean) * w * std::polar(1.0, -2 * M_PI * k * i / n);
                }
                psd[std::size_t(k)] += std::norm(sum) * (k == 0 || k == n / 2 ? 1 : 2) / (rate * windowPower * segments);
            }
        }
        const Spectrum s = Spectrum::welch(x.data(), x.size(), rate, n);
        QCOMPARE(s.segments, segments);
        QCOMPARE(s.bins(), n / 2 + 1);
        double power = 0;
        for (int k = 0; k <= n / 2; ++k) {
            power += psd[std::size_t(k)] * rate / n;
            QVERIFY2(std::abs(s.asd[std::size_t(k)] - std::sqrt(psd[std::size_t(k)])) < 1e-9,
                     qPrintable(QStringLiteral("bin %1").arg(k)));
            QCOMPARE(s.frequency[std::size_t(k)], k * rate / n);
        }
        // Parseval: the integral of the PSD is the power the bins hold.
        QVERIFY(std::abs(s.cumulativeRms().front() - std::sqrt(power)) < 1e-9);
        QVERIFY(std::abs(s.bandRms(0, rate / 2) - std::sqrt(power)) < 1e-9);
    }

    void allanDeviation()
    {
        // Written out with explicit averages on a short record, every m allowed.
        const auto shortRecord = whiteNoise(61, 1.0, 8, 100.0);
        const AllanDeviation direct(shortRecord.data(), shortRecord.size(), 10);
        for (int m = 1; 2 * m <= 61; ++m) {
            double sum = 0;
            int terms = 0;
            for (int j = 0; j + 2 * m <= 61; ++j, ++terms) {
                double first = 0, second = 0;
                for (int i = 0; i < m; ++i) {
                    first += shortRecord[std::size_t(j + i)] / m;
                    second += shortRecord[std::size_t(j + m + i)] / m;
                }
                sum += (second - first) * (second - first);
            }
            QVERIFY2(std::abs(direct.at(m) - std::sqrt(sum / (2 * terms))) < 1e-9, qPrintable(QString::number(m)));
        }
        QCOMPARE(direct.maxFactor(), 20);
        QCOMPARE(int(direct.octaves().size()), 5); // 1, 2, 4, 8, 16
        QCOMPARE(direct.atTau(2.0), direct.at(20));
        QVERIFY(std::isnan(direct.atTau(2.2)));

        // A random walk rises as tau^+1/2.

        const double step = 0.001;
        auto x = whiteNoise(200000, step, 42);
        for (std::size_t i = 1; i < x.size(); ++i)
            x[i] += x[i - 1];
        const AllanDeviation allan(x.data(), x.size(), 500);
        // Overlapping Allan variance of a random walk: step^2 (2m^2 + 1) / (6m).
        for (int m : {1, 4, 16, 64, 256}) {
            const double expected = step * std::sqrt((2.0 * m * m + 1) / (6.0 * m));
            QVERIFY2(std::abs(allan.at(m) / expected - 1) < 0.1,
                     qPrintable(QStringLiteral("m = %1: %2 vs %3").arg(m).arg(allan.at(m)).arg(expected)));
        }
        QVERIFY(std::abs(allanSlope(allan, 8, 512) - 0.5) < 0.05);
        // The spectrum of a random walk falls as 1/f (ASD), not flat.
        const Spectrum s = Spectrum::welch(x.data(), x.size(), 500, 4096);
        QVERIFY(meanPsd(s, 0.05, 0.1) > 50 * meanPsd(s, 0.5, 1.0));
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
            const QByteArray what = r.name + QByteArray(": ") + QByteArray::number(h.voltage) + ' '
                + QByteArray::number(h.distance) + ' ' + QByteArray::number(h.secondsToLimit);
            QVERIFY2(h.valid && h.fitSpan == std::min(r.seconds, 120.0), r.name);
            QVERIFY2(std::abs(h.voltage - r.voltage) < 0.01 && std::abs(h.distance - r.distance) < 0.01, what);
            QVERIFY2(std::isinf(r.toLimit) ? h.secondsToLimit > 1e4 : std::abs(h.secondsToLimit / r.toLimit - 1) < 0.02, what);
            QVERIFY2(h.isWarning() == r.warning, r.name);
            QVERIFY(!Headroom::compute(v.data(), 0, rate).valid);
        }
    }

    void readsRecordings_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("samples"); // -1: refused
        QTest::addColumn<QString>("unit1");
        QTest::addColumn<QString>("error");
        const QByteArray head = "Start: 2026-12-06T01:02:03\n"
                                "ms\tX1(\xB5m)\tY1(\xB5m)\tI1(V)\tX2(V)\tY2(V)\tI2(V)\tRX1(V)\tRY1(V)\tRX2(V)\tRY2(V)\n\n";
        const QByteArray line1 = "0\t12.5\t-3.25\t2.51\t0.120\t-0.033\t3.02\t5.01\t4.99\t5.02\t5.00\n";
        const QByteArray line2 = "2\t12.0\tnan\t2.51\t0.121\t-0.030\t3.02\t5.02\t4.98\t5.02\t5.01\n";
        QTest::newRow("two lines") << head + line1 + line2 << 2 << "µm" << "";
        QTest::newRow("utf-8 unit, CRLF") << QByteArray(head).replace("\xB5", "\xC2\xB5").replace("\n", "\r\n") + line1
                                          << 1 << "µm" << "";
        QTest::newRow("cut short") << head + line1 + line2.left(20) << 1 << "µm" << "";
        QTest::newRow("header only") << head << 0 << "µm" << "";
        QTest::newRow("not a recording") << QByteArray("ms\tX1\n") << -1 << "" << "line 1";
        QTest::newRow("column missing") << QByteArray(head).replace("RY2(V)", "Q(V)") + line1 << -1 << "" << "no column RY2";
        QTest::newRow("no empty line") << QByteArray(head).replace("\n\n", "\n") + line1 << -1 << "" << "line 3";
        QTest::newRow("short line") << head + line1 + "4\t1\t2\n" + line2 << -1 << "" << "line 5";
        QTest::newRow("text in a number") << head + line1 + QByteArray(line2).replace("0.121", "0,121") << -1 << ""
                                          << "line 5";
    }

    void readsRecordings()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, samples);
        QFETCH(QString, unit1);
        QFETCH(QString, error);
        JitterRecord r;
        QString message;
        const bool ok = RecordReader::parse(text, r, message);
        QCOMPARE(ok, samples >= 0);
        if (!ok) {
            QVERIFY2(message.contains(error), qPrintable(message));
            return;
        }
        QCOMPARE(int(r.samples()), samples);
        QCOMPARE(r.positionUnit[0], unit1);
        QCOMPARE(r.positionUnit[1], QStringLiteral("V"));
        QCOMPARE(r.start, QDateTime(QDate(2026, 12, 6), QTime(1, 2, 3)));
        for (auto &stage : r.range)
            for (auto &axis : stage)
                QCOMPARE(int(axis.size()), samples);
        if (samples >= 1)
            QCOMPARE(std::make_tuple(r.position[0][0][0], r.position[0][1][0], r.position[1][1][0], r.range[0][1][0], r.range[1][1][0]),
                     std::make_tuple(12.5, -3.25, -0.033, 4.99, 5.00));
        if (samples == 2) {
            // Exactly the double a full conversion gives.
            QVERIFY(r.position[1][0][1] == std::strtod("0.121", nullptr));
            QVERIFY(r.position[1][1][1] == std::strtod("-0.030", nullptr));
            QVERIFY(std::isnan(r.position[0][1][1]));
            QCOMPARE(r.sampleRate, 500.0);
        }
    }

    // A file in the recorder's own format whose arrival times come in bursts:
    // the .json's save rate wins over them.
    void readsWhatTheRecorderWrites()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("run.csv"));
        QFile file(path), json(path + QStringLiteral(".json"));
        QVERIFY(file.open(QIODevice::WriteOnly) && json.open(QIODevice::WriteOnly));
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
        file.close();
        json.close();
        JitterRecord r;
        QString error;
        QVERIFY2(RecordReader::readFile(path, r, error), qPrintable(error));
        QCOMPARE(int(r.samples()), 1000);
        QCOMPARE(r.sampleRate, 200.0);
        QCOMPARE(r.positionUnit[0], stage1->unitText());
        QCOMPARE(r.positionUnit[1], QStringLiteral("V"));
        QCOMPARE(r.position[1][0][999], 0.999);
        QVERIFY(!RecordReader::readFile(dir.filePath(QStringLiteral("missing.csv")), r, error));
        QVERIFY(error.contains(QStringLiteral("missing.csv")));
    }
};

QTEST_GUILESS_MAIN(JitterAnalysisTest)
#include "tst_jitteranalysis.moc"
