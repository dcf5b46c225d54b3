#include "detectors/DetectorFactory.h"
#include "detectors/StageDetectors.h"
#include "LogCapture.h"

#include <QtTest>

#include <cmath>
#include <limits>


static constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
static constexpr double Inf = std::numeric_limits<double>::infinity();

// Detector models (positions, factory) and the stage pair.
class TestDetectors : public QObject
{
    Q_OBJECT

private slots:
    void positions()
    {
        struct Row { int type; double beamDiameter, signal, intensity, expected; }; // NaN: no finite position
        std::vector<Row> rows{
            {1, 50, 0.5, 1, 8.4322}, {1, 50, 2, 4, 8.4322}, {1, 50, -0.5, 1, -8.4322}, {1, 50, 0.99, 1, 32.1558}, // QD
            {2, 50, -1.2, 7, -1}, {3, 65, 1, 0, 10}, {3, 13, -1, 0.2, -2}, {4, 50, 2.9, 1, 1}, {5, 50, -3.3, 1, -3},
            // A QD signal equal to the intensity would be an infinite position; no intensity, none at all.
            {1, 50, 1, 1, NaN}, {1, 50, -2, 2, NaN}, {1, 50, 0.3, 0, NaN}};
        // No model lets a non-finite input through, whatever it does with the intensity.
        for (int type : {1, 2, 3, 4, 5}) {
            for (double bad : {NaN, Inf, -Inf}) {
                rows.push_back({type, 50, bad, 1, NaN});
                if (type == 1)
                    rows.push_back({type, 50, 0.1, bad, bad == bad ? 0.0 : NaN});
            }
        }
        for (const Row &r : rows) {
            const double position =
                StageDetectors(r.type, r.beamDiameter, 1, 0, 50.0, 0, false).stage1()->calculatePosition(r.signal, r.intensity);
            const QByteArray text = QString("type %1, %2 V of %3 V: %4").arg(r.type).arg(r.signal).arg(r.intensity)
                                        .arg(position, 0, 'g', 12).toLatin1();
            QVERIFY2(Detector::isValidPosition(position) == !std::isnan(r.expected), text);
            // No position is NaN, never an infinity.
            QVERIFY2(std::isnan(r.expected) ? std::isnan(position) : std::abs(position - r.expected) < 5e-5, text);
        }
    }

    void stagePair()
    {
        StageDetectors entry(1, 80.0, 1, 3, 65.0, 0, true);
        const Detector *stage2 = entry.stage2();
        QVERIFY(entry.stage(1) == stage2);
        QVERIFY(entry.stage(2) == nullptr);
        QCOMPARE(StageDetectors(6, 50.0, 1, 0, 50.0, 0, false).stage1()->type(), 0); // an unknown type from a file is none

        // setDetector keeps beam diameter and calculation and leaves the other stage.
        entry.setDetector(0, 2);
        entry.setDetector(2, 4); // ignored
        const Detector *psd = entry.stage1();
        QVERIFY(psd->type() == 2);
        QVERIFY(psd->beamDiameter == 80.0);
        QVERIFY(psd->calculation == 1);
        QVERIFY(psd->unitText() == "mm");
        QCOMPARE(entry.stage2(), stage2);

        // Assignment (also to itself) and copies are deep and keep each model's
        // class and settings: a WID stays a WID.
        StageDetectors copy(2, 10.0, 1, 1, 20.0, 0, false);
        copy = entry;
        entry.stage1()->beamDiameter = 13.0;
        const StageDetectors &self = copy;
        copy = self;
        const StageDetectors copied(copy);
        QVERIFY(copied.stage1()->type() == 2);
        QVERIFY(copied.stage1()->beamDiameter == 80.0);
        QVERIFY(copied.triggerDisplay);
        QCOMPARE(copied.stage2()->calculatePosition(1.0, 0.0), 10.0);
    }

    // A diameter read from a setup file that is 0 (also what a missing attribute
    // reads as), negative or not a number falls back to 50 µm with a log line.
    void unusableBeamDiameters()
    {
        LogCapture log;
        for (int type : {1, 3, 2}) {
            for (double stored : {0.0, -10.0, NaN, Inf, -Inf, 80.0, 0.5}) {
                log.clear();
                const bool usable = std::isfinite(stored) && stored > 0;
                const double expected = usable ? stored : 50.0;
                StageDetectors entry(0, 65.0, 1, type, stored, 1, false);
                const QByteArray where = QByteArray::number(type) + " / " + QByteArray::number(stored);
                if (type == 2) { // a PSD does not use it: kept as read, until the stage becomes a QD
                    QVERIFY2(!log.contains("Beam diameter"), where);
                    entry.setDetector(1, 1);
                }
                // Never inverted.
                QVERIFY2(entry.stage2()->beamDiameter == expected, where);
                QVERIFY2(entry.stage1()->beamDiameter == 65.0, where);
                QVERIFY2(entry.stage2()->rangeMaximum() == expected / 2, where);
                QVERIFY2(entry.stage2()->calculatePosition(0.5, 1.0) > 0, where);
                QVERIFY2(!usable == log.contains("of stage 2 is not a positive number; using 50"), where);
            }
        }
        // A diameter carried over to a model that uses it is checked as well.
        StageDetectors entry;
        entry.stage1()->beamDiameter = 0.0;
        log.clear();
        entry.setDetector(0, 1);
        // Volts: the diameter is not shown.
        QVERIFY(entry.stage1()->rangeMaximum() == 5.0);
        QVERIFY(entry.stage1()->beamDiameter == 50.0);
        QVERIFY(log.contains("of stage 1 is not a positive number"));
    }
};

QTEST_GUILESS_MAIN(TestDetectors)
#include "tst_detectors.moc"
