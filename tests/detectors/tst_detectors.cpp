#include "detectors/DetectorFactory.h"
#include "detectors/QD.h"

#include <QtTest>

#include <cmath>
#include <limits>

// Positions, display settings and the factory of every detector model.
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
    void inverseErfMatchesApproximation();
    void factoryKeepsSettings_data();
    void factoryKeepsSettings();
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
    QTest::addColumn<double>("rangeMinimum");
    QTest::addColumn<int>("unitKind");
    QTest::addColumn<QString>("unitText");

    const QString volt = QStringLiteral("V");
    const QString mm = QStringLiteral("mm");
    const QString um = QString::fromUtf8("\xc2\xb5m");
    // Beam diameter is 80 µm in every row, so the quadrant family's length
    // range is ±40.
    QTest::newRow("none volts") << 0 << 0 << false << false << 3 << 2 << 5.0 << -5.0 << 0 << volt;
    QTest::newRow("none length") << 0 << 1 << false << false << 3 << 2 << 5.0 << -5.0 << 0 << volt;
    QTest::newRow("QD volts") << 1 << 0 << true << false << 3 << 2 << 5.0 << -5.0 << 0 << volt;
    QTest::newRow("QD length") << 1 << 1 << true << false << 2 << 1 << 40.0 << -40.0 << 1 << um;
    QTest::newRow("PSD volts") << 2 << 0 << false << true << 3 << 2 << 5.0 << -5.0 << 0 << volt;
    QTest::newRow("PSD length") << 2 << 1 << false << true << 4 << 3 << 4.5 << -4.5 << 2 << mm;
    QTest::newRow("WID volts") << 3 << 0 << true << false << 3 << 2 << 5.0 << -5.0 << 0 << volt;
    QTest::newRow("WID length") << 3 << 2 << true << false << 2 << 1 << 40.0 << -40.0 << 1 << um;
    QTest::newRow("UV4 volts") << 4 << 0 << false << true << 3 << 2 << 5.0 << -5.0 << 0 << volt;
    QTest::newRow("UV4 length") << 4 << 1 << false << true << 4 << 3 << 4.5 << -4.5 << 2 << mm;
    QTest::newRow("UV10 volts") << 5 << 0 << false << true << 3 << 2 << 5.0 << -5.0 << 0 << volt;
    QTest::newRow("UV10 length") << 5 << -1 << false << true << 4 << 3 << 4.5 << -4.5 << 2 << mm;
}

void TestDetectors::displaySettings()
{
    QFETCH(int, type);
    QFETCH(int, calculation);
    auto model = createDetector(type);
    model->beamDiameter = 80.0;
    model->calculation = calculation;

    QCOMPARE(model->type(), type);
    QTEST(model->usesBeamDiameter(), "usesBeamDiameter");
    QTEST(model->canAdjustTarget(), "canAdjustTarget");
    QTEST(model->recordDecimals(), "recordDecimals");
    QTEST(model->displayDecimals(), "displayDecimals");
    QTEST(model->rangeMaximum(), "rangeMaximum");
    QTEST(model->rangeMinimum(), "rangeMinimum");
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
    QTest::newRow("QD half ratio") << 1 << 50.0 << 0.5 << 1.0 << 8.4322;
    QTest::newRow("QD half ratio scaled") << 1 << 50.0 << 2.0 << 4.0 << 8.4322;
    QTest::newRow("QD negative ratio") << 1 << 50.0 << -0.5 << 1.0 << -8.4322;
    QTest::newRow("QD diameter scales") << 1 << 100.0 << 0.5 << 1.0 << 16.8644;
    QTest::newRow("QD negative intensity") << 1 << 50.0 << 0.5 << -1.0 << -8.4322;
    QTest::newRow("PSD 1.2 V") << 2 << 50.0 << 1.2 << 0.0 << 1.0;
    QTest::newRow("PSD ignores intensity") << 2 << 50.0 << -2.4 << 7.0 << -2.0;
    QTest::newRow("WID 65 um 1 V") << 3 << 65.0 << 1.0 << 0.0 << 10.0;
    QTest::newRow("WID ignores intensity") << 3 << 13.0 << -1.0 << 0.2 << -2.0;
    QTest::newRow("UV4 2.9 V") << 4 << 50.0 << 2.9 << 1.0 << 1.0;
    QTest::newRow("UV10 1.1 V") << 5 << 50.0 << 1.1 << 1.0 << 1.0;
    QTest::newRow("UV10 -3.3 V") << 5 << 50.0 << -3.3 << 1.0 << -3.0;
}

void TestDetectors::positions()
{
    QFETCH(int, type);
    QFETCH(double, beamDiameter);
    QFETCH(double, signal);
    QFETCH(double, intensity);
    QFETCH(double, expected);
    auto model = createDetector(type);
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

    QTest::newRow("QD signal = intensity") << 1 << 1.0 << 1.0;
    QTest::newRow("QD signal = -intensity") << 1 << -2.0 << 2.0;
    QTest::newRow("QD signal > intensity") << 1 << 1.5 << 1.0;
    QTest::newRow("QD signal < -intensity") << 1 << -3.0 << 1.0;
    QTest::newRow("QD intensity 0") << 1 << 0.3 << 0.0;
    QTest::newRow("QD both 0") << 1 << 0.0 << 0.0;
    QTest::newRow("QD NaN signal") << 1 << nan << 1.0;
    QTest::newRow("QD NaN intensity") << 1 << 0.1 << nan;
    QTest::newRow("PSD NaN") << 2 << nan << 1.0;
    QTest::newRow("PSD infinite") << 2 << inf << 1.0;
    QTest::newRow("WID infinite") << 3 << -inf << 1.0;
    QTest::newRow("UV4 NaN") << 4 << nan << 1.0;
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

void TestDetectors::inverseErfMatchesApproximation()
{
    QVERIFY(std::abs(QD::inverseErf(0.5) - 0.476996) < 5e-7);
    QVERIFY(std::abs(QD::inverseErf(-0.5) + 0.476996) < 5e-7);
    // The approximation stays within 2e-3 of the true inverse below |r| = 0.99.
    for (double r = -0.99; r < 0.99; r += 0.01) {
        const double x = QD::inverseErf(r);
        QVERIFY2(std::abs(std::erf(x) - r) < 2e-3, qPrintable(QString::number(r)));
    }
    QVERIFY(std::isinf(QD::inverseErf(1.0)));
    QVERIFY(std::isnan(QD::inverseErf(1.5)));
}

void TestDetectors::factoryKeepsSettings_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("expectedType");
    for (int type = 0; type <= 5; ++type)
        QTest::addRow("type %d", type) << type << type;
    QTest::newRow("unknown 6") << 6 << 0;
    QTest::newRow("unknown -1") << -1 << 0;
}

void TestDetectors::factoryKeepsSettings()
{
    QFETCH(int, type);
    QFETCH(int, expectedType);
    auto source = createDetector(DetectorQD);
    source->beamDiameter = 123.5;
    source->calculation = 1;

    auto model = createDetector(type, *source);
    QCOMPARE(model->type(), expectedType);
    QCOMPARE(model->beamDiameter, 123.5);
    QCOMPARE(model->calculation, 1);
    QCOMPARE(isKnownDetectorType(type), type == expectedType);

    auto fresh = createDetector(type);
    QCOMPARE(fresh->beamDiameter, 50.0);
    QCOMPARE(fresh->calculation, 0);
}

QTEST_APPLESS_MAIN(TestDetectors)
#include "tst_detectors.moc"
