#include "display/GenericPlot.h"
#include "display/PointingStatistics.h"

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
        QCOMPARE(f.stats.text(1) + f.stats.text(2), QString("\nx=2.000 [V]\ny=0.000 [V]\n#samples=3\nRMS=1.2910 [V]"
                                                            "\nx=2.000 [V]\ny=1.667 [V]\n#samples=3\nRMS=1.3472 [V]"));
        const double arm = 1.3 * f.stats.rms(1); // the cross around the mean reaches 1.3 RMS each side
        QCOMPARE(f.stats.crossShape(1).boundingRect(), QRectF(2 - arm, -arm, 2 * arm, 2 * arm));
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
        QCOMPARE(qMakePair(stats.accumulator(2).stage1.count(), stats.accumulator(2).stage1.meanX()), qMakePair(2, 6.0));
        stats.removeConnection(0);
        QCOMPARE(qMakePair(stats.accumulator(0).stage1.meanX(), stats.accumulator(1).stage1.meanX()), qMakePair(1.0, 6.0));

        stats.clear();
        QCOMPARE(qMakePair(stats.accumulator(1).stage1.count(), stats.rms(2)), qMakePair(0, 0.0));
        QCOMPARE(stats.text(1) + stats.text(2), QString("\nx=\ny=\n#samples= 0\nRMS=") + PointingStatistics::clearedText);
        QCOMPARE(stats.lastShownCount(), 0);
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
            f.feed({{1, 1, 0, 0}, {badX, badY, 2, 0}, {3, 3, 4, 0}});
            QCOMPARE((QList<QPointF>{f.stats.centre(1), f.stats.centre(2)}), (QList<QPointF>{{2, 2}, {2, 0}}));
            QCOMPARE(f.stats.rms(1), 1.0);
            QVERIFY(qAbs(f.stats.rms(2) - std::sqrt(5.0 / 3)) < 1e-12);
            QCOMPARE(f.stats.text(1), QString("\nx=2.000 [V]\ny=2.000 [V]\n#samples=3\nRMS=1.0000 [V]"));
            QCOMPARE(qMakePair(f.stats.accumulator(0).stage1.count(), f.stats.accumulator(0).stage2.count()), qMakePair(2, 3));
        }
    }
};

QTEST_MAIN(TestPointingStatistics)
#include "tst_pointingstatistics.moc"
