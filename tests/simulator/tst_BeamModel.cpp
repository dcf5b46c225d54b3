#include "BeamModel.h"

#include <QtTest>

#include <cmath>

namespace {
struct Stats
{
    double mean = 0;
    double rms = 0;   // around the mean
    int maxAct = 0;
    bool actInRange = true;
};

// Samples the x position of stage 0 at 500 Hz for the given time.
Stats run(BeamModel &m, double seconds)
{
    const int n = int(seconds * 500);
    Stats s;
    double squares = 0;
    for (int i = 0; i < n; ++i) {
        m.advance(0.002);
        const BeamSample b = m.sample();
        s.maxAct = std::max({s.maxAct, int(b.rangeX[0]), int(b.rangeY[0])});
        s.actInRange = s.actInRange && b.rangeX[0] >= 0 && b.rangeY[0] >= 0;
        s.mean += b.x[0] / double(n);
        squares += double(b.x[0]) * b.x[0] / n;
    }
    s.rms = std::sqrt(squares - s.mean * s.mean);
    return s;
}
}

class BeamModelTest : public QObject
{
    Q_OBJECT

private slots:
    void stabilisationShrinksJitter();
    void loopFollowsTargetWithinActuatorRange();
};

void BeamModelTest::stabilisationShrinksJitter()
{
    BeamModel m(7), twin(7), other(8);
    const Stats free = run(m, 1.0);
    // The same seed gives the same beam, another seed another one.
    QCOMPARE(run(twin, 1.0).rms, free.rms);
    QVERIFY(run(other, 1.0).rms != free.rms);
    QVERIFY2(free.rms > 50, qPrintable(QString::number(free.rms)));
    m.setStabilization(0, true);
    run(m, 0.2);
    const Stats locked = run(m, 1.0);
    QVERIFY2(locked.rms < free.rms / 8, qPrintable(QString("%1 -> %2").arg(free.rms).arg(locked.rms)));
    QVERIFY(std::abs(locked.mean) < 20);

    // An inactive stage (intensity below the sensitivity) does not regulate, nor does a frozen one.
    m.setSensitivity(0, 5000);
    QVERIFY(!m.isActive(0));
    QVERIFY(run(m, 1.0).rms > 50);
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
    QVERIFY(s.actInRange && s.maxAct <= BeamModel::ActuatorMax);

    // Set & Hold keeps the position where it was captured, whatever adjust-in says.
    const double held = m.position(0, 0);
    m.startSetHold(0);
    m.setAdjustIn(0, 0, -1500);
    s = run(m, 1.0);
    QVERIFY2(std::abs(s.mean - held) < 20, qPrintable(QString("%1 vs %2").arg(s.mean).arg(held)));
    m.clearSetHold(0);
    run(m, 0.3);
    QVERIFY(std::abs(run(m, 1.0).mean + 1500) < 20);

    // A target out of reach saturates the actuators at their limit.
    m.setAdjustIn(0, 0, 30000);
    QCOMPARE(run(m, 1.0).maxAct, int(BeamModel::ActuatorMax));
}

QTEST_GUILESS_MAIN(BeamModelTest)
#include "tst_BeamModel.moc"
