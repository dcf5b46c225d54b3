#include "display/GenericPlot.h"
#include "display/PointingStatistics.h"

#include <qwt_plot_shapeitem.h>
#include <qwt_plot_textlabel.h>

#include <QtTest>

#include <cmath>

class TestPointingStatistics : public QObject
{
    Q_OBJECT
private slots:
    void oneSample();
    void runningMeanSeries();
    void textRefreshFollowsClock();
    void crossGeometry_data();
    void crossGeometry();
    void clearAndConnections();
    void showAndHide();
    void itemAppearance();

private:
    using P = PointingStatistics::Positions;
};

namespace {
// A clock moved by hand.
struct ManualClock {
    qint64 now = 0;
    PointingStatistics::Clock clock() { return [this] { return now; }; }
};
} // namespace

void TestPointingStatistics::oneSample()
{
    GenericPlot plot1, plot2;
    PointingStatistics stats(&plot1, &plot2);
    stats.setUnitSource([](int, int stage) { return stage == 1 ? QString("mm") : QString("µm"); });
    stats.addConnection();
    stats.update(1, 0, 1, false, P{1.0, -2.0, 30.5, 0.25});
    stats.update(1, 0, 1, true);

    QCOMPARE(stats.centre(1), QPointF(1.0, -2.0));
    QCOMPARE(stats.centre(2), QPointF(30.5, 0.25));
    QCOMPARE(stats.rms(1), 0.0);
    QCOMPARE(stats.accumulator(0).sq1, 0.0);
    QCOMPARE(stats.text(1), QString("\nx=1.000 [mm]\ny=-2.000 [mm]\n#samples=1\nRMS=0.0000 [mm]"));
    QCOMPARE(stats.text(2), QString("\nx=30.500 [µm]\ny=0.250 [µm]\n#samples=1\nRMS=0.0000 [µm]"));
    QCOMPARE(stats.textItem(1)->text().text(), stats.text(1));
    // The cross collapses to its centre.
    QCOMPARE(stats.crossShape(1).boundingRect(), QRectF(1.0, -2.0, 0, 0));
    QCOMPARE(stats.lastShownCount(), 1);
}

void TestPointingStatistics::runningMeanSeries()
{
    // Stage 1: x = 0, 2, 4 (y = 0). Running means 0, 1, 2; squared
    // distances 0, 1, 4; RMS = sqrt(5 / 3).
    // Stage 2: (1, 1), (1, 3), (4, 1). Means (1, 1), (1, 2), (2, 5/3);
    // squared distances 0, 1, 4 + 4/9; RMS = sqrt((49/9) / 3).
    GenericPlot plot1, plot2;
    PointingStatistics stats(&plot1, &plot2);
    stats.addConnection();
    const QList<P> samples{{0, 0, 1, 1}, {2, 0, 1, 3}, {4, 0, 4, 1}};
    for (int n = 1; n <= samples.size(); ++n)
        stats.update(n, 0, n, false, samples.at(n - 1));
    stats.update(3, 0, 3, true);

    const PointingStatistics::Accumulator a = stats.accumulator(0);
    QCOMPARE(a.sumX1, 6.0);
    QCOMPARE(a.sumY2, 5.0);
    QCOMPARE(a.sq1, 5.0);
    QVERIFY(qAbs(a.sq2 - 49.0 / 9.0) < 1e-12);
    QVERIFY(qAbs(stats.rms(1) - std::sqrt(5.0 / 3.0)) < 1e-12);
    QVERIFY(qAbs(stats.rms(2) - std::sqrt(49.0 / 27.0)) < 1e-12);
    QCOMPARE(stats.text(1), QString("\nx=2.000 [V]\ny=0.000 [V]\n#samples=3\nRMS=1.2910 [V]"));
    QCOMPARE(stats.text(2), QString("\nx=2.000 [V]\ny=1.667 [V]\n#samples=3\nRMS=1.3472 [V]"));
}

void TestPointingStatistics::textRefreshFollowsClock()
{
    GenericPlot plot1, plot2;
    ManualClock clock;
    PointingStatistics stats(&plot1, &plot2, clock.clock());
    stats.addConnection();

    stats.update(1, 0, 1, false, P{1, 1, 0, 0});
    clock.now = 10; // not more than 10 ms: texts stay, crosses follow
    stats.update(2, 0, 2, false, P{3, 1, 0, 0});
    QCOMPARE(stats.text(1), PointingStatistics::clearedText);
    QCOMPARE(stats.lastShownCount(), 0);
    QCOMPARE(stats.centre(1), QPointF(2, 1));

    clock.now = 11;
    stats.update(3, 0, 3, false, P{2, 1, 0, 0});
    QVERIFY(stats.text(1).contains("#samples=3"));
    QCOMPARE(stats.lastShownCount(), 3);

    clock.now = 15; // within 10 ms of the last rewrite
    stats.update(4, 0, 4, false, P{2, 1, 0, 0});
    QVERIFY(stats.text(1).contains("#samples=3"));
    stats.update(4, 0, 4, true); // the final update shows regardless
    QVERIFY(stats.text(1).contains("#samples=4"));
    QCOMPARE(stats.lastShownCount(), 4);
}

void TestPointingStatistics::crossGeometry_data()
{
    QTest::addColumn<QPointF>("centre");
    QTest::addColumn<double>("rms");
    QTest::newRow("unit radius at origin") << QPointF(0, 0) << 1.0;
    QTest::newRow("off centre") << QPointF(1.5, -2.0) << 0.25;
}

void TestPointingStatistics::crossGeometry()
{
    QFETCH(QPointF, centre);
    QFETCH(double, rms);
    const QPainterPath path = PointingStatistics::targetCross(centre, rms);
    // Arms of 2.6 rms in total stick out of the circle.
    const QRectF bounds = path.boundingRect();
    QVERIFY(qAbs(bounds.width() - 2.6 * rms) < 1e-9);
    QVERIFY(qAbs(bounds.height() - 2.6 * rms) < 1e-9);
    QVERIFY(qAbs(bounds.center().x() - centre.x()) < 1e-9);
    QVERIFY(qAbs(bounds.center().y() - centre.y()) < 1e-9);
    // The circle passes through centre + (rms, 0) and centre + (0, rms).
    const QList<QPointF> onCircle{centre + QPointF(rms, 0), centre + QPointF(0, rms)};
    for (const QPointF& p : onCircle) {
        bool hit = false;
        for (int i = 0; i < path.elementCount() && !hit; ++i)
            hit = QLineF(QPointF(path.elementAt(i)), p).length() < 1e-9;
        QVERIFY(hit);
    }
    const QRectF unit = PointingStatistics::unitCross().boundingRect();
    QCOMPARE(unit, QRectF(-0.75, -0.75, 1.5, 1.5));
}

void TestPointingStatistics::clearAndConnections()
{
    GenericPlot plot1, plot2;
    PointingStatistics stats(&plot1, &plot2);
    stats.addConnection();
    stats.addConnection();
    stats.update(1, 0, 1, false, P{1, 1, 1, 1});
    stats.update(1, 1, 1, false, P{5, 5, 5, 5});
    QCOMPARE(stats.accumulator(0).sumX1, 1.0);
    QCOMPARE(stats.accumulator(1).sumX1, 5.0);
    stats.update(1, 7, 1, false, P{9, 9, 9, 9}); // unknown connection: ignored
    stats.update(1, 1, 1, true);

    stats.addConnection(0);
    QCOMPARE(stats.connectionCount(), 3);
    QCOMPARE(stats.accumulator(0).sumX1, 0.0);
    QCOMPARE(stats.accumulator(2).sumX1, 5.0);
    stats.removeConnection(0);
    QCOMPARE(stats.accumulator(1).sumX1, 5.0);

    stats.clear();
    QCOMPARE(stats.accumulator(1).sumX1, 0.0);
    QCOMPARE(stats.text(1), QString("\nx=\ny=\n#samples= 0\nRMS="));
    QCOMPARE(stats.text(2), PointingStatistics::clearedText);
    QCOMPARE(stats.lastShownCount(), 0);
    QCOMPARE(stats.rms(2), 0.0);
    QCOMPARE(stats.crossShape(2).boundingRect(), QRectF(-0.75, -0.75, 1.5, 1.5));
}

void TestPointingStatistics::showAndHide()
{
    GenericPlot plot1, plot2;
    PointingStatistics stats(&plot1, &plot2);
    stats.addConnection();

    // Nothing counted yet: attached without recomputing.
    stats.setShown(2, true, 0, 0);
    QVERIFY(stats.isShown(2) && !stats.isShown(1));
    QCOMPARE(stats.textItem(2)->plot(), &plot2);
    QCOMPARE(stats.crossItem(2)->plot(), &plot2);
    QCOMPARE(stats.text(2), PointingStatistics::clearedText);

    stats.update(2, 0, 2, false, P{0, 0, 2, 2});
    stats.update(2, 0, 2, false, P{0, 0, 4, 4});
    stats.update(2, 0, 2, true);
    stats.setShown(2, false);
    QVERIFY(!stats.isShown(2));
    QVERIFY(!plot2.itemList().contains(stats.crossItem(2)));

    // Showing again recomputes from the last shown count.
    stats.setShown(1, true, 0, 2);
    QCOMPARE(stats.textItem(1)->plot(), &plot1);
    QVERIFY(stats.text(1).contains("#samples=2"));
}

void TestPointingStatistics::itemAppearance()
{
    GenericPlot plot1, plot2;
    PointingStatistics stats(&plot1, &plot2);
    QCOMPARE(stats.crossItem(1)->title().text(), QString("Zielkreuz mit Varianz-Kreis"));
    QCOMPARE(stats.crossItem(2)->title().text(), QString("Zielkreuz2 mit Varianz-Kreis"));
    QCOMPARE(stats.crossItem(2)->pen(), QPen(Qt::red, 2));
    const QwtText text = stats.textItem(1)->text();
    QCOMPARE(text.color(), QColor(Qt::red));
    QCOMPARE(text.font().family(), QString("Sans Serif"));
    QCOMPARE(text.font().pointSize(), 8);
    QCOMPARE(text.renderFlags(), int(Qt::AlignLeft | Qt::AlignTop));
}

QTEST_MAIN(TestPointingStatistics)
#include "tst_pointingstatistics.moc"
