// Text of recording files: header, data lines, number formatting, names.

#include "detectors/DetectorFactory.h"
#include "recording/RecordFormat.h"
#include "recording/RecordNames.h"

#include <QtTest>

#include <cstdio>

namespace {

std::unique_ptr<Detector> model(int type, int calculation, double beam = 50.0)
{
    auto d = createDetector(type);
    d->calculation = calculation;
    d->beamDiameter = beam;
    return d;
}

StreamSample sample(int x1, int y1, int i1, int x2, int y2, int i2, int rx1 = 0, int ry1 = 0, int rx2 = 0, int ry2 = 0)
{
    StreamSample s;
    s.x1 = qint16(x1), s.y1 = qint16(y1), s.intensity1 = quint16(i1), s.x2 = qint16(x2), s.y2 = qint16(y2);
    s.intensity2 = quint16(i2), s.rangeX1 = qint16(rx1), s.rangeY1 = qint16(ry1), s.rangeX2 = qint16(rx2), s.rangeY2 = qint16(ry2);
    return s;
}

} // namespace

class RecordFormatTest : public QObject
{
    Q_OBJECT
private slots:
    // Detector type and calculation of both stages, the units they give X and
    // Y, and the line of a sample taken ms after the start.
    void lines()
    {
        const struct { int type1, calc1, type2, calc2; QString units; quint32 ms; StreamSample s; QByteArray line; } rows[] = {
            {0, 0, DetectorPSD, 0, "V V", 0u, sample(1234, -200, 2500, 0, -32768, 65535, 5, 15, -5, 32767),
             "0\t1.234\t-0.200\t2.50\t0.000\t-32.768\t65.53\t0.01\t0.01\t-0.01\t32.77\n"},
            // 1.2 V on a PSD is 1 mm; 2.9 V on the 4 mm UV PSD too.
            {DetectorPSD, 1, DetectorPSD_UV4, 1, "mm mm", 4294967295u, sample(1200, -600, 3000, 2900, 0, 100),
             "4294967295\t1.0000\t-0.5000\t3.00\t1.0000\t0.0000\t0.10\t0.00\t0.00\t0.00\t0.00\n"},
            // Quadrant: signal = half the intensity with a 50 µm beam is 8.43 µm;
            // |signal| >= intensity has no position.
            {DetectorQD, 1, DetectorWID, 1, QString::fromUtf8("µm µm"), 17u, sample(1000, 2000, 2000, 1000, -1000, 0),
             "17\t8.43\tnan\t2.00\t7.69\t-7.69\t0.00\t0.00\t0.00\t0.00\t0.00\n"},
            {DetectorPSD_UV10, 1, DetectorQD, 0, "mm V", 3u, sample(1100, 2000, 2000, 1, -1, 0),
             "3\t1.0000\t1.8182\t2.00\t0.001\t-0.001\t0.00\t0.00\t0.00\t0.00\t0.00\n"}};
        const QDateTime start(QDate(2026, 3, 4), QTime(5, 6, 7, 890));
        for (const auto &r : rows) {
            const auto stage1 = model(r.type1, r.calc1), stage2 = model(r.type2, r.calc2);
            const QString columns = QString("ms\tX1(%1)\tY1(%1)\tI1(V)\tX2(%2)\tY2(%2)\tI2(V)\tRX1(V)\tRY1(V)\tRX2(V)\tRY2(V)")
                                        .arg(r.units.section(' ', 0, 0), r.units.section(' ', 1, 1));
            QCOMPARE(RecordFormat::header(start, *stage1, *stage2), "Start: 2026-03-04T05:06:07\n" + columns.toLocal8Bit() + "\n\n");
            char text[RecordFormat::maxLineLength];
            QCOMPARE(QByteArray(text, RecordFormat::formatLine(text, r.ms, r.s, *stage1, *stage2)), r.line);
        }
    }

    // Every raw value a stream field can carry, with every decimal count in use,
    // gives exactly what "%.*f" gives; so do the length conversions.
    void numbersAsCFormatsThem()
    {
        char ours[RecordFormat::maxValueLength], theirs[400];
        int mismatches = 0;
        QByteArray first;
        auto check = [&](double v, int decimals) {
            const int n = RecordFormat::formatFixed(ours, v, decimals);
            const int m = std::snprintf(theirs, sizeof theirs, "%.*f", decimals, v);
            if (QByteArray(ours, n) != QByteArray(theirs, m) && mismatches++ == 0)
                first = QByteArray(ours, n) + " vs " + QByteArray(theirs, m);
        };
        const auto psd = model(DetectorPSD, 1), uv4 = model(DetectorPSD_UV4, 1), wid = model(DetectorWID, 1, 65.0);
        for (int raw = -32768; raw <= 65535; ++raw) {
            for (int decimals = 2; decimals <= 4; ++decimals)
                check(raw * 0.001, decimals);
            check(psd->calculatePosition(raw * 0.001, 0), 4);
            check(uv4->calculatePosition(raw * 0.001, 0), 4);
            check(wid->calculatePosition(raw * 0.001, 0), 2);
        }
        for (double v : {1e300, -1e-300, 123456789012345.678, std::nan(""), -std::numeric_limits<double>::infinity()})
            for (int decimals = 0; decimals <= 15; ++decimals)
                check(v, decimals);
        QVERIFY2(mismatches == 0, first.constData());
    }

    void names()
    {
        // Typed name, label -> path of the recording, path of the controller's file.
        const QList<QStringList> rows{{"run1", "A", "/u/Data/run1.csv", "/u/Data/run1_A.csv"},
                                      {"run1.txt", "B", "/u/Data/run1.txt", "/u/Data/run1_B.txt"},
                                      {"run1.xls", "B", "/u/Data/run1.xls", "/u/Data/run1_B.xls"},
                                      {"run1.dat", "C", "/u/Data/run1.dat.csv", "/u/Data/run1_C.dat.csv"},
                                      {"run1.CSV", "C", "/u/Data/run1.CSV.csv", "/u/Data/run1_C.CSV.csv"},
                                      {"/tmp/x.y/run", "L_1", "/tmp/x.y/run.csv", "/tmp/x.y/run_L_1.csv"}};
        for (const QStringList &r : rows) {
            const QString path = RecordNames::completePath(r[0], "/u");
            QCOMPARE(QStringList({r[0], r[1], path, RecordNames::controllerPath(path, r[1])}), r);
        }
        const QRegularExpression proposed("^Talvix_\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d\\.csv$");
        QVERIFY(proposed.match(RecordNames::proposedFileName()).hasMatch());
    }
};

QTEST_GUILESS_MAIN(RecordFormatTest)
#include "tst_recordformat.moc"
