#include "detectors/DetectorFactory.h"
#include "detectors/StageDetectors.h"

#include <QtTest>

#include <cmath>
#include <limits>

// Detector models (positions, display settings, factory) and the stage pair.
class TestDetectors : public QObject
{
    Q_OBJECT

private slots:
    void displaySettings_data();
    void displaySettings();
    void positions_data();
    void positions();
    void stagePair();
};

// What the display needs from a model, in one line.
static QString summary(const Detector &m)
{
    return QStringLiteral("type=%1 beam=%2 target=%3 decimals=%4/%5 range=%6..%7 unit=%8 %9")
        .arg(m.type()).arg(m.usesBeamDiameter()).arg(m.canAdjustTarget()).arg(m.recordDecimals())
        .arg(m.displayDecimals()).arg(m.rangeMinimum()).arg(m.rangeMaximum()).arg(m.unitKind()).arg(m.unitText());
}

void TestDetectors::displaySettings_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("calculation");
    QTest::addColumn<QString>("expected");

    // Beam diameter 80 µm in every row: the quadrant family's range is ±40.
    const QString volts = QStringLiteral("beam=0 target=0 decimals=3/2 range=-5..5 unit=0 V");
    QTest::newRow("unknown type 6 is none") << 6 << 1 << "type=0 " + volts;
    QTest::newRow("QD volts") << 1 << 0 << "type=1 beam=1 target=0 decimals=3/2 range=-5..5 unit=0 V";
    QTest::newRow("QD length") << 1 << 1 << QString::fromUtf8("type=1 beam=1 target=0 decimals=2/1 range=-40..40 unit=1 µm");
    QTest::newRow("WID length") << 3 << 2 << QString::fromUtf8("type=3 beam=1 target=0 decimals=2/1 range=-40..40 unit=1 µm");
    QTest::newRow("PSD volts") << 2 << 0 << "type=2 beam=0 target=1 decimals=3/2 range=-5..5 unit=0 V";
    QTest::newRow("PSD length") << 2 << 1 << "type=2 beam=0 target=1 decimals=4/3 range=-4.5..4.5 unit=2 mm";
    QTest::newRow("UV4 length") << 4 << 1 << "type=4 beam=0 target=1 decimals=4/3 range=-4.5..4.5 unit=2 mm";
    QTest::newRow("UV10 length") << 5 << -1 << "type=5 beam=0 target=1 decimals=4/3 range=-4.5..4.5 unit=2 mm";
}

void TestDetectors::displaySettings()
{
    QFETCH(int, type);
    QFETCH(int, calculation);
    Detector source;
    source.beamDiameter = 80.0;
    source.calculation = calculation;
    QTEST(summary(*createDetector(type, source)), "expected"); // a copy of source's settings
}

void TestDetectors::positions_data()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("beamDiameter");
    QTest::addColumn<double>("signal");
    QTest::addColumn<double>("intensity");
    QTest::addColumn<double>("expected"); // NaN: no finite position

    QTest::newRow("QD half ratio") << 1 << 50.0 << 0.5 << 1.0 << 8.4322;
    QTest::newRow("QD half ratio scaled") << 1 << 50.0 << 2.0 << 4.0 << 8.4322;
    QTest::newRow("QD negative ratio") << 1 << 50.0 << -0.5 << 1.0 << -8.4322;
    QTest::newRow("QD near the edge") << 1 << 50.0 << 0.99 << 1.0 << 32.1558;
    QTest::newRow("PSD 1.2 V") << 2 << 50.0 << -1.2 << 7.0 << -1.0;
    QTest::newRow("WID 65 um 1 V") << 3 << 65.0 << 1.0 << 0.0 << 10.0;
    QTest::newRow("WID ignores intensity") << 3 << 13.0 << -1.0 << 0.2 << -2.0;
    QTest::newRow("UV4 2.9 V") << 4 << 50.0 << 2.9 << 1.0 << 1.0;
    QTest::newRow("UV10 -3.3 V") << 5 << 50.0 << -3.3 << 1.0 << -3.0;
    QTest::newRow("QD signal = intensity") << 1 << 50.0 << 1.0 << 1.0 << nan; // would be +inf
    QTest::newRow("QD signal = -intensity") << 1 << 50.0 << -2.0 << 2.0 << nan;
    QTest::newRow("QD intensity 0") << 1 << 50.0 << 0.3 << 0.0 << nan;
    QTest::newRow("QD NaN intensity") << 1 << 50.0 << 0.1 << nan << nan;
    QTest::newRow("WID infinite") << 3 << 50.0 << -inf << 1.0 << nan;
}

void TestDetectors::positions()
{
    QFETCH(int, type);
    QFETCH(double, signal);
    QFETCH(double, intensity);
    QFETCH(double, expected);
    QFETCH(double, beamDiameter);
    const double position = StageDetectors(type, beamDiameter, 1, 0, 50.0, 0, false).stage1()->calculatePosition(signal, intensity);
    const QByteArray text = QByteArray::number(position, 'g', 12);
    QCOMPARE(Detector::isValidPosition(position), !std::isnan(expected));
    if (std::isnan(expected))
        QVERIFY2(std::isnan(position), text.constData()); // never an infinity
    else
        QVERIFY2(std::abs(position - expected) < 5e-5, text.constData());
}

void TestDetectors::stagePair()
{
    StageDetectors entry(1, 80.0, 1, 3, 65.0, 0, true);
    const Detector *stage2 = entry.stage2();
    QCOMPARE(entry.stage1()->rangeMaximum(), 40.0); // QD, 80 µm, length
    QVERIFY(entry.stage(1) == stage2 && entry.stage(2) == nullptr);

    // setDetector keeps beam diameter and calculation and leaves the other stage.
    entry.setDetector(0, 2);
    entry.setDetector(2, 4); // ignored
    QCOMPARE(summary(*entry.stage1()), QStringLiteral("type=2 beam=0 target=1 decimals=4/3 range=-4.5..4.5 unit=2 mm"));
    QCOMPARE(entry.stage2(), stage2);

    // Assignment (also to itself) and copies are deep and keep each model's
    // class and settings: a WID stays a WID.
    StageDetectors copy(2, 10.0, 1, 1, 20.0, 0, false);
    copy = entry;
    entry.stage1()->beamDiameter = 13.0;
    const StageDetectors &self = copy;
    copy = self;
    const StageDetectors copied(copy);
    QCOMPARE(copied.stage1()->type(), 2);
    QCOMPARE(copied.stage1()->beamDiameter, 80.0);
    QCOMPARE(copied.stage2()->calculatePosition(1.0, 0.0), 10.0);
    QVERIFY(copied.triggerDisplay);
}

QTEST_APPLESS_MAIN(TestDetectors)
#include "tst_detectors.moc"
