// Mean and the two RMS radii of the pointing accumulator against values
// worked out by hand, the samples it leaves out, and its precision far from
// the origin.

#include "analysis/PointingAccumulator.h"

#include <QtTest>

#include <cmath>
#include <limits>

using Points = QVector<QPointF>;
Q_DECLARE_METATYPE(Points)

class TestPointingAccumulator : public QObject
{
    Q_OBJECT
private slots:
    void knownSeries_data();
    void knownSeries();
    void clearStartsAgain();
};

void TestPointingAccumulator::knownSeries_data()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::addColumn<Points>("points");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("meanX");
    QTest::addColumn<double>("meanY");
    QTest::addColumn<double>("rms");
    QTest::addColumn<double>("runningRms");

    QTest::newRow("empty") << Points{} << 0 << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("one sample") << Points{{3, -2}} << 1 << 3.0 << -2.0 << 0.0 << 0.0;
    // Final mean (1, 0): both at distance 1. Running: 0, then 1 -> sqrt(1/2).
    QTest::newRow("two on a line") << Points{{0, 0}, {2, 0}} << 2 << 1.0 << 0.0 << 1.0 << std::sqrt(0.5);
    // Corners of a square: all at sqrt(2) from (0, 0). Running means (1,1),
    // (1,0), (1/3,1/3), (0,0) give 0 + 1 + 20/9 + 2 = 47/9 over 4 samples.
    QTest::newRow("square") << Points{{1, 1}, {1, -1}, {-1, 1}, {-1, -1}} << 4 << 0.0 << 0.0 << std::sqrt(2.0)
                            << std::sqrt(47.0 / 36.0);
    QTest::newRow("not finite left out")
        << Points{{0, 0}, {nan, 5}, {2, 0}, {1, inf}} << 2 << 1.0 << 0.0 << 1.0 << std::sqrt(0.5);
    // Far from the origin the spread of 1 must survive the offset.
    QTest::newRow("large offset") << Points{{1e9 + 1, 5e8}, {1e9 - 1, 5e8}, {1e9 + 1, 5e8}, {1e9 - 1, 5e8}} << 4
                                  << 1e9 << 5e8 << 1.0 << std::sqrt((0 + 1 + 4.0 / 9 + 1) / 4.0);
}

void TestPointingAccumulator::knownSeries()
{
    QFETCH(Points, points);
    QFETCH(int, count);
    QFETCH(double, meanX);
    QFETCH(double, meanY);
    QFETCH(double, rms);
    QFETCH(double, runningRms);

    PointingAccumulator a;
    int accepted = 0;
    for (const QPointF &p : points)
        accepted += a.add(p.x(), p.y()) ? 1 : 0;
    QCOMPARE(accepted, count);
    QCOMPARE(a.count(), count);
    QCOMPARE(a.meanX(), meanX);
    QCOMPARE(a.meanY(), meanY);
    // Absolute tolerance: some radii are 0.
    QVERIFY2(std::abs(a.rmsRadius() - rms) < 1e-9, qPrintable(QString::number(a.rmsRadius(), 'g', 17)));
    // The running means of a far-off series are rounded to its magnitude.
    QVERIFY2(std::abs(a.runningRmsRadius() - runningRms) < 1e-6,
             qPrintable(QString::number(a.runningRmsRadius(), 'g', 17)));
}

void TestPointingAccumulator::clearStartsAgain()
{
    PointingAccumulator a;
    a.add(10, 10);
    a.add(-10, 4);
    a.clear();
    QCOMPARE(a.count(), 0);
    QCOMPARE(a.rmsRadius(), 0.0);
    a.add(0, 0);
    a.add(0, 2);
    // Only the samples after the clear count.
    QCOMPARE(a.meanY(), 1.0);
    QCOMPARE(a.rmsRadius(), 1.0);
}

QTEST_APPLESS_MAIN(TestPointingAccumulator)
#include "tst_pointingaccumulator.moc"
