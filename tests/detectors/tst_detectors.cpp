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
    void positionsWithoutFiniteResult_data();
    void positionsWithoutFiniteResult();
    void stagePairConstructionAndSetDetector();
    void stagePairCopiesAreDeep();
};

void TestDetectors::displaySettings_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("calculation");
    QTest::addColumn<bool>("usesBeamDiameter");
    QTest::addColumn<bool>("canAdjustTarget");
    QTest::addColumn<int>("recordDecimals");
    QTest::addColumn<int>("displayDecimals");
    QTest::addColumn<double>("rangeMaximum");
    QTest::addColumn<int>("unitKind");
    QTest::addColumn<QString>("unitText");

    const QString V = QStringLiteral("V"), mm = QStringLiteral("mm"), um = QString::fromUtf8("\xc2\xb5m");
    // Beam diameter 80 µm in every row: the quadrant family's range is ±40.
    QTest::newRow("none volts") << 0 << 0 << false << false << 3 << 2 << 5.0 << 0 << V;
    QTest::newRow("none length") << 0 << 1 << false << false << 3 << 2 << 5.0 << 0 << V;
    QTest::newRow("QD volts") << 1 << 0 << true << false << 3 << 2 << 5.0 << 0 << V;
    QTest::newRow("QD length") << 1 << 1 << true << false << 2 << 1 << 40.0 << 1 << um;
    QTest::newRow("PSD volts") << 2 << 0 << false << true << 3 << 2 << 5.0 << 0 << V;
    QTest::newRow("PSD length") << 2 << 1 << false << true << 4 << 3 << 4.5 << 2 << mm;
    QTest::newRow("WID volts") << 3 << 0 << true << false << 3 << 2 << 5.0 << 0 << V;
    QTest::newRow("WID length") << 3 << 2 << true << false << 2 << 1 << 40.0 << 1 << um;
    QTest::newRow("UV4 volts") << 4 << 0 << false << true << 3 << 2 << 5.0 << 0 << V;
    QTest::newRow("UV4 length") << 4 << 1 << false << true << 4 << 3 << 4.5 << 2 << mm;
    QTest::newRow("UV10 length") << 5 << -1 << false << true << 4 << 3 << 4.5 << 2 << mm;
    QTest::newRow("unknown type 6 is none") << 6 << 1 << false << false << 3 << 2 << 5.0 << 0 << V;
}

void TestDetectors::displaySettings()
{
    QFETCH(int, type);
    QFETCH(int, calculation);
    QFETCH(double, rangeMaximum);
    Detector source;
    source.beamDiameter = 80.0;
    source.calculation = calculation;
    auto model = createDetector(type, source);

    QCOMPARE(model->type(), isKnownDetectorType(type) ? type : 0);
    QCOMPARE(model->beamDiameter, 80.0); // the factory keeps the settings
    QCOMPARE(model->calculation, calculation);
    QTEST(model->usesBeamDiameter(), "usesBeamDiameter");
    QTEST(model->canAdjustTarget(), "canAdjustTarget");
    QTEST(model->recordDecimals(), "recordDecimals");
    QTEST(model->displayDecimals(), "displayDecimals");
    QCOMPARE(model->rangeMaximum(), rangeMaximum);
    QCOMPARE(model->rangeMinimum(), -rangeMaximum);
    QTEST(model->unitKind(), "unitKind");
    QTEST(model->unitText(), "unitText");
}

void TestDetectors::positions_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("beamDiameter");
    QTest::addColumn<double>("signal");
    QTest::addColumn<double>("intensity");
    QTest::addColumn<double>("expected");

    QTest::newRow("none is always 0") << 0 << 50.0 << 3.0 << 1.0 << 0.0;
    QTest::newRow("QD centre") << 1 << 50.0 << 0.0 << 2.5 << 0.0;
    // A beam of 2 x sqrt(2) µm gives erfinv itself.
    QTest::newRow("QD erfinv(0.5)") << 1 << 2.0 * std::sqrt(2.0) << 0.5 << 1.0 << 0.476996;
    QTest::newRow("QD half ratio") << 1 << 50.0 << 0.5 << 1.0 << 8.4322;
    QTest::newRow("QD half ratio scaled") << 1 << 50.0 << 2.0 << 4.0 << 8.4322;
    QTest::newRow("QD negative ratio") << 1 << 50.0 << -0.5 << 1.0 << -8.4322;
    QTest::newRow("QD near the edge") << 1 << 50.0 << 0.99 << 1.0 << 32.1558;
    QTest::newRow("PSD 1.2 V") << 2 << 50.0 << 1.2 << 0.0 << 1.0;
    QTest::newRow("PSD ignores intensity") << 2 << 50.0 << -2.4 << 7.0 << -2.0;
    QTest::newRow("WID 65 um 1 V") << 3 << 65.0 << 1.0 << 0.0 << 10.0;
    QTest::newRow("WID ignores intensity") << 3 << 13.0 << -1.0 << 0.2 << -2.0;
    QTest::newRow("UV4 2.9 V") << 4 << 50.0 << 2.9 << 1.0 << 1.0;
    QTest::newRow("UV10 -3.3 V") << 5 << 50.0 << -3.3 << 1.0 << -3.0;
}

void TestDetectors::positions()
{
    QFETCH(int, type);
    QFETCH(double, signal);
    QFETCH(double, intensity);
    QFETCH(double, expected);
    auto model = createDetector(type);
    QFETCH(double, beamDiameter);
    model->beamDiameter = beamDiameter;
    model->calculation = 1;

    const double position = model->calculatePosition(signal, intensity);
    QVERIFY(Detector::isValidPosition(position));
    QVERIFY2(std::abs(position - expected) < 5e-5, qPrintable(QString::number(position, 'g', 12)));
}

void TestDetectors::positionsWithoutFiniteResult_data()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("signal");
    QTest::addColumn<double>("intensity");

    QTest::newRow("QD signal = intensity") << 1 << 1.0 << 1.0; // would be +inf
    QTest::newRow("QD signal = -intensity") << 1 << -2.0 << 2.0;
    QTest::newRow("QD signal > intensity") << 1 << 1.5 << 1.0;
    QTest::newRow("QD intensity 0") << 1 << 0.3 << 0.0;
    QTest::newRow("QD both 0") << 1 << 0.0 << 0.0;
    QTest::newRow("QD NaN intensity") << 1 << 0.1 << nan;
    QTest::newRow("PSD NaN") << 2 << nan << 1.0;
    QTest::newRow("WID infinite") << 3 << -inf << 1.0;
    QTest::newRow("UV10 infinite") << 5 << inf << 1.0;
}

void TestDetectors::positionsWithoutFiniteResult()
{
    QFETCH(int, type);
    QFETCH(double, signal);
    QFETCH(double, intensity);
    auto model = createDetector(type);
    model->calculation = 1;

    const double position = model->calculatePosition(signal, intensity);
    QVERIFY(std::isnan(position)); // never an infinity
    QVERIFY(!Detector::isValidPosition(position));
}

void TestDetectors::stagePairConstructionAndSetDetector()
{
    StageDetectors entry(1, 80.0, 1, 3, 65.0, 0, true);
    QCOMPARE(entry.stage1()->type(), 1);
    QCOMPARE(entry.stage1()->beamDiameter, 80.0);
    QCOMPARE(entry.stage1()->unitKind(), 1); // shows lengths
    QCOMPARE(entry.stage2()->type(), 3);
    QCOMPARE(entry.stage2()->calculation, 0);
    QVERIFY(entry.triggerDisplay);
    QCOMPARE(entry.stage(1), entry.stage2());
    QCOMPARE(entry.stage(2), nullptr);

    const Detector *stage2 = entry.stage2();
    entry.setDetector(0, 2);
    QCOMPARE(entry.stage1()->type(), 2);
    QCOMPARE(entry.stage1()->beamDiameter, 80.0);
    QCOMPARE(entry.stage1()->calculation, 1);
    QCOMPARE(entry.stage2(), stage2); // the other stage is untouched
    entry.setDetector(2, 4);          // ignored
    QCOMPARE(entry.stage1()->type(), 2);
}

void TestDetectors::stagePairCopiesAreDeep()
{
    StageDetectors source(5, 42.0, 1, 3, 65.0, 1, true);
    const StageDetectors copy(source);
    QCOMPARE(copy.stage1()->type(), 5);
    QCOMPARE(copy.stage2()->type(), 3); // a WID stays a WID...
    QCOMPARE(copy.stage2()->calculatePosition(1.0, 0.0), 10.0); // ...with its formula
    QCOMPARE(copy.stage1()->beamDiameter, 42.0);
    QVERIFY(copy.triggerDisplay);
    source.stage2()->beamDiameter = 13.0;
    QCOMPARE(copy.stage2()->beamDiameter, 65.0);

    StageDetectors target;
    target = StageDetectors(2, 10.0, 1, 1, 20.0, 1, false); // the source is gone afterwards
    const StageDetectors &self = target;
    target = self;
    QCOMPARE(target.stage1()->type(), 2);
    QCOMPARE(target.stage2()->rangeMaximum(), 10.0);

    QList<StageDetectors> list{StageDetectors(1, 30.0, 1, 2, 50.0, 0, false), StageDetectors(3, 65.0, 1, 4, 50.0, 1, true)};
    list.removeAt(0);
    QCOMPARE(list.at(0).stage2()->type(), 4);
}

QTEST_APPLESS_MAIN(TestDetectors)
#include "tst_detectors.moc"
