#include "BeamModel.h"

#include <QtTest>

#include <cmath>

namespace {
struct Stats
{
    double mean = 0, rms = 0; // rms around the mean
    int minAct = INT_MAX, maxAct = INT_MIN;
};

// Samples stage 0 at 500 Hz for the given time: x position and both actuators.
Stats run(BeamModel &m, double seconds)
{
    const int n = int(seconds * 500);
    Stats s;
    double squares = 0;
    for (int i = 0; i < n; ++i) {
        m.advance(0.002);
        const BeamSample b = m.sample();
        s.minAct = std::min({s.minAct, int(b.rangeX[0]), int(b.rangeY[0])});
        s.maxAct = std::max({s.maxAct, int(b.rangeX[0]), int(b.rangeY[0])});
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
    void closedLoopShrinksJitterAndHoldsTarget()
    {
        BeamModel m(7), twin(7), other(8);
        const Stats free = run(m, 1.0);
        QCOMPARE(run(twin, 1.0).rms, free.rms);   // same seed, same beam
        QVERIFY(run(other, 1.0).rms != free.rms);
        QVERIFY2(free.rms > 50, qPrintable(QString::number(free.rms)));
        m.setStabilization(0, true);
        m.setAdjustIn(0, 0, 1500);
        run(m, 0.3);
        Stats s = run(m, 1.0);
        QVERIFY2(s.rms < free.rms / 8, qPrintable(QString("rms %1 -> %2, mean %3").arg(free.rms).arg(s.rms).arg(s.mean)));
        QVERIFY2(std::abs(s.mean - 1500) < 20, qPrintable(QString("rms %1 -> %2, mean %3").arg(free.rms).arg(s.rms).arg(s.mean)));
        QVERIFY(s.minAct >= 0);
        QVERIFY(s.maxAct <= BeamModel::ActuatorMax);

        // An inactive stage (intensity below the sensitivity) does not regulate.
        m.setSensitivity(0, 5000);
        QVERIFY(run(m, 1.0).rms > 50);
    }
};

QTEST_GUILESS_MAIN(BeamModelTest)
#include "tst_BeamModel.moc"
