#include "BeamModel.h"

#include <QtTest>

#include <cmath>

namespace {
struct Stats
{
    double mean = 0;
    double rms = 0;   // around the mean
    int minAct = 1 << 30;
    int maxAct = -(1 << 30);
};

// Samples stage 0 at 500 Hz for the given time.
Stats run(BeamModel &m, double seconds)
{
    const int n = int(seconds * 500);
    std::vector<double> x;
    Stats s;
    for (int i = 0; i < n; ++i) {
        m.advance(0.002);
        const BeamSample b = m.sample();
        x.push_back(b.x[0]);
        s.minAct = std::min({s.minAct, int(b.rangeX[0]), int(b.rangeY[0])});
        s.maxAct = std::max({s.maxAct, int(b.rangeX[0]), int(b.rangeY[0])});
    }
    for (double v : x)
        s.mean += v / n;
    for (double v : x)
        s.rms += (v - s.mean) * (v - s.mean) / n;
    s.rms = std::sqrt(s.rms);
    return s;
}
}

class BeamModelTest : public QObject
{
    Q_OBJECT

private slots:
    void stabilisationShrinksJitter();
    void loopFollowsTargetWithinActuatorRange();
    void sameSeedSameBeam();
};

void BeamModelTest::stabilisationShrinksJitter()
{
    BeamModel m(7);
    const Stats free = run(m, 1.0);
    QVERIFY2(free.rms > 50, qPrintable(QString::number(free.rms)));

    m.setStabilization(0, true);
    run(m, 0.2);
    const Stats locked = run(m, 1.0);
    QVERIFY2(locked.rms < free.rms / 8, qPrintable(QString("%1 -> %2").arg(free.rms).arg(locked.rms)));
    QVERIFY(std::abs(locked.mean) < 20);

    // An inactive stage (intensity below the sensitivity) does not regulate.
    m.setSensitivity(0, 5000);
    QVERIFY(!m.isActive(0));
    QVERIFY(run(m, 1.0).rms > 50);
    // Neither does a frozen one.
    m.setSensitivity(0, 1000);
    m.setFreeze(0, true);
    QVERIFY(run(m, 1.0).rms > 50);
}

void BeamModelTest::loopFollowsTargetWithinActuatorRange()
{
    BeamModel m(3);
    m.setStabilization(0, true);
    m.setAdjustIn(0, 0, 1500);
    run(m, 0.3);
    Stats s = run(m, 1.0);
    QVERIFY2(std::abs(s.mean - 1500) < 20, qPrintable(QString::number(s.mean)));
    QVERIFY(s.minAct >= 0 && s.maxAct <= BeamModel::ActuatorMax);

    // Set & Hold keeps the position where it was captured, whatever adjust-in says.
    const double held = m.position(0, 0);
    m.startSetHold(0);
    m.setAdjustIn(0, 0, -1500);
    s = run(m, 1.0);
    QVERIFY2(std::abs(s.mean - held) < 20, qPrintable(QString("%1 vs %2").arg(s.mean).arg(held)));
    m.clearSetHold(0);
    run(m, 0.3);
    QVERIFY(std::abs(run(m, 1.0).mean + 1500) < 20);

    // A target out of reach saturates the actuators at their limits.
    m.setAdjustIn(0, 0, 30000);
    s = run(m, 1.0);
    QCOMPARE(s.maxAct, int(BeamModel::ActuatorMax));
}

void BeamModelTest::sameSeedSameBeam()
{
    BeamModel a(11), b(11), c(12);
    bool differs = false;
    for (int i = 0; i < 500; ++i) {
        a.advance(0.002);
        b.advance(0.002);
        c.advance(0.002);
        const BeamSample sa = a.sample(), sb = b.sample(), sc = c.sample();
        QCOMPARE(sa.x[1], sb.x[1]);
        QCOMPARE(sa.intensity[0], sb.intensity[0]);
        differs = differs || sa.x[1] != sc.x[1];
    }
    QVERIFY(differs);
}

QTEST_GUILESS_MAIN(BeamModelTest)
#include "tst_BeamModel.moc"
