#include "display/GenericPlot.h"
#include "display/PointingStatistics.h"

#include <qwt_plot_shapeitem.h>
#include <qwt_plot_textlabel.h>

#include <QtTest>

#include <cmath>
#include <limits>

using P = PointingStatistics::Positions;

namespace {
// Statistics over one connection with a clock moved by hand.
struct Fixture {
    qint64 now = 0;
    GenericPlot plot1, plot2;
    PointingStatistics stats{&plot1, &plot2, [this] { return now; }};
    Fixture() { stats.addConnection(); }
    // Samples 1, 2, ... of connection 0, then the statistics shown.
    void feed(const QList<P> &samples)
    {
        for (int n = 1; n <= samples.size(); ++n)
            stats.update(n, 0, n, false, samples.at(n - 1));
        stats.update(samples.size(), 0, samples.size(), true);
    }
};
} // namespace

class TestPointingStatistics : public QObject
{
    Q_OBJECT
private slots:
    void statistics()
    {
        // One sample: RMS 0 and the cross collapses to its centre.
        Fixture one;
        one.stats.setUnitSource([](int, int stage) { return stage == 1 ? QString("mm") : QString("µm"); });
        one.feed({P{1.0, -2.0, 30.5, 0.25}});
        QCOMPARE(one.stats.rms(1), 0.0);
        QCOMPARE(one.stats.text(1), QString("\nx=1.000 [mm]\ny=-2.000 [mm]\n#samples=1\nRMS=0.0000 [mm]"));
        QCOMPARE(one.stats.textItem(2)->text().text(), QString("\nx=30.500 [µm]\ny=0.250 [µm]\n#samples=1\nRMS=0.0000 [µm]"));
        QCOMPARE(one.stats.crossShape(2).boundingRect(), QRectF(30.5, 0.25, 0, 0));

        // Stage 1: x = 0, 2, 4 (y = 0). Running means 0, 1, 2; squared
        // distances 0, 1, 4; RMS = sqrt(5 / 3).
        // Stage 2: (1, 1), (1, 3), (4, 1). Means (1, 1), (1, 2), (2, 5/3);
        // squared distances 0, 1, 4 + 4/9; RMS = sqrt((49/9) / 3).
        Fixture f;
        f.feed({{0, 0, 1, 1}, {2, 0, 1, 3}, {4, 0, 4, 1}});
        QVERIFY(qAbs(f.stats.rms(1) - std::sqrt(5.0 / 3.0)) < 1e-12);
        QVERIFY(qAbs(f.stats.rms(2) - std::sqrt(49.0 / 27.0)) < 1e-12);
        QCOMPARE(f.stats.text(1), QString("\nx=2.000 [V]\ny=0.000 [V]\n#samples=3\nRMS=1.2910 [V]"));
        QCOMPARE(f.stats.text(2), QString("\nx=2.000 [V]\ny=1.667 [V]\n#samples=3\nRMS=1.3472 [V]"));
        // The cross around the mean reaches 1.3 RMS each side.
        const double arm = 1.3 * f.stats.rms(1);
        const QRectF cross = f.stats.crossShape(1).boundingRect();
        QVERIFY(qAbs(cross.left() - (2 - arm)) < 1e-9 && qAbs(cross.right() - (2 + arm)) < 1e-9);
        QVERIFY(qAbs(cross.top() + arm) < 1e-9 && qAbs(cross.bottom() - arm) < 1e-9);
    }

    void clearAndConnections()
    {
        Fixture f;
        PointingStatistics &stats = f.stats;
        stats.addConnection();
        stats.update(1, 0, 1, false, P{1, 1, 1, 1});
        stats.update(1, 1, 1, false, P{5, 5, 5, 5});
        stats.update(2, 1, 2, false, P{7, 7, 7, 7});
        stats.update(2, 7, 3, false, P{9, 9, 9, 9}); // unknown connection: ignored
        stats.update(2, 1, 2, true);
        QCOMPARE(stats.centre(2), QPointF(6, 6));

        stats.addConnection(0); // accumulators follow insertion and removal
        QCOMPARE(stats.accumulator(2).sumX1, 12.0);
        stats.removeConnection(0);
        QCOMPARE(qMakePair(stats.accumulator(0).sumX1, stats.accumulator(1).sumX1), qMakePair(1.0, 12.0));

        stats.clear();
        QCOMPARE(stats.accumulator(1).sumX1, 0.0);
        QCOMPARE(stats.text(1), QString("\nx=\ny=\n#samples= 0\nRMS="));
        QCOMPARE(stats.text(2), PointingStatistics::clearedText);
        QCOMPARE(stats.lastShownCount(), 0);
        QCOMPARE(stats.rms(2), 0.0);
        QCOMPARE(stats.crossShape(2).boundingRect(), QRectF(-0.75, -0.75, 1.5, 1.5)); // unit cross
    }

    void refreshAndShow()
    {
        Fixture f;
        PointingStatistics &stats = f.stats;
        // Not more than 10 ms since the start: texts stay, crosses follow.
        stats.update(1, 0, 1, false, P{1, 1, 2, 2});
        f.now = 10;
        stats.update(2, 0, 2, false, P{3, 1, 4, 4});
        QCOMPARE(stats.centre(1), QPointF(2, 1));
        // Nothing shown yet: showing attaches without recomputing.
        stats.setShown(2, true, 0, 2);
        QVERIFY(stats.isShown(2) && !stats.isShown(1));
        QCOMPARE(stats.crossItem(2)->plot(), &f.plot2);
        QCOMPARE(stats.text(2), PointingStatistics::clearedText);

        f.now = 11;
        stats.update(3, 0, 3, false, P{2, 1, 6, 6}); // rewritten: mean x of stage 2 is 4
        f.now = 15; // within 10 ms of the last rewrite
        stats.update(4, 0, 4, false, P{2, 1, 8, 8});
        QVERIFY(stats.text(2).startsWith("\nx=4.000 [V]"));

        stats.setShown(2, false);
        QVERIFY(!stats.isShown(2) && !f.plot2.itemList().contains(stats.crossItem(2)));
        // Showing again recomputes over all samples, labelled with the last shown count.
        stats.setShown(2, true, 0, 4);
        // Stage 2 running means 2, 3, 4, 5 on the diagonal: squares 0 + 2 + 8 + 18 over 4.
        QCOMPARE(stats.text(2), QString("\nx=5.000 [V]\ny=5.000 [V]\n#samples=3\nRMS=2.6458 [V]"));
        QCOMPARE(stats.lastShownCount(), 4);
    }

    void positionsWithoutValueAreLeftOut()
    {
        // Stage 1 gets (1, 1), the bad sample, (3, 3): mean (2, 2); running-mean
        // squared distances 0 and 2 over the 2 added samples: RMS 1. Stage 2
        // gets (0, 0), (2, 0), (4, 0) and must count all three: mean (2, 0),
        // distances 0, 1, 4 (from the running means 0, 1, 2): RMS sqrt(5 / 3).
        const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
        for (auto [badX, badY] : {std::pair{nan, 1.0}, {1.0, nan}, {inf, 0.0}}) {
            Fixture f;
            f.stats.setUnitSource([](int, int) { return QString("µm"); });
            f.feed({{1, 1, 0, 0}, {badX, badY, 2, 0}, {3, 3, 4, 0}});
            QCOMPARE(f.stats.centre(1), QPointF(2, 2));
            QCOMPARE(f.stats.rms(1), 1.0);
            QCOMPARE(f.stats.centre(2), QPointF(2, 0));
            QVERIFY(qAbs(f.stats.rms(2) - std::sqrt(5.0 / 3)) < 1e-12);
            QCOMPARE(f.stats.text(1), QString("\nx=2.000 [µm]\ny=2.000 [µm]\n#samples=3\nRMS=1.0000 [µm]"));
            QCOMPARE(qMakePair(f.stats.accumulator(0).added1, f.stats.accumulator(0).added2), qMakePair(2, 3));
        }
    }
};

QTEST_MAIN(TestPointingStatistics)
#include "tst_pointingstatistics.moc"
