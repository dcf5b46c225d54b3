#include "detectors/DetectorFactory.h"
#include "detectors/StageDetectors.h"
#include "LogCapture.h"

#include <QtTest>

#include <cmath>
#include <limits>


static constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
static constexpr double Inf = std::numeric_limits<double>::infinity();

// What the display needs from a model, in one line.
static QString summary(const Detector &m)
{
    return QStringLiteral("type=%1 beam=%2 target=%3 decimals=%4/%5 range=%6..%7 unit=%8 %9")
        .arg(m.type()).arg(m.usesBeamDiameter()).arg(m.canAdjustTarget()).arg(m.recordDecimals())
        .arg(m.displayDecimals()).arg(m.rangeMinimum()).arg(m.rangeMaximum()).arg(m.unitKind()).arg(m.unitText());
}

static std::unique_ptr<Detector> model(int type, int calculation, double beamDiameter)
{
    Detector source;
    source.beamDiameter = beamDiameter;
    source.calculation = calculation;
    return createDetector(type, source);
}

// Detector models (positions, display settings, factory) and the stage pair.
class TestDetectors : public QObject
{
    Q_OBJECT

private slots:
    // Per type (stored in setup files): beam diameter used, Set & Hold offered,
    // and length mode, which any non-zero mode is; volts look the same on
    // every model; an unknown type is none. A quadrant family's axis spans the beam.
    void displaySettings()
    {
        const QString volts("decimals=3/2 range=-5..5 unit=0 V"), psd("decimals=4/3 range=-4.5..4.5 unit=2 mm");
        const QString qd = QString::fromUtf8("decimals=2/1 range=-40..40 unit=1 µm"); // an 80 µm beam
        const QStringList model{"0 beam=0 target=0", "1 beam=1 target=0", "2 beam=0 target=1", "3 beam=1 target=0",
                                "4 beam=0 target=1", "5 beam=0 target=1", "0 beam=0 target=0"};
        const QStringList length{volts, qd, psd, qd, psd, psd, volts};
        for (int type = 0; type <= 6; ++type)
            for (int calculation : {0, 1, -1})
                QCOMPARE(summary(*::model(type, calculation, 80)),
                         "type=" + model[type] + ' ' + (calculation ? length[type] : volts));
        QCOMPARE(::model(1, 1, 13)->rangeMaximum(), 6.5);
        QCOMPARE(::model(3, 1, 13)->rangeMaximum(), 6.5);
    }

    void positions_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("beamDiameter");
        QTest::addColumn<double>("signal");
        QTest::addColumn<double>("intensity");
        QTest::addColumn<double>("expected"); // NaN: no finite position

        QTest::newRow("QD half ratio") << 1 << 50.0 << 0.5 << 1.0 << 8.4322;
        QTest::newRow("QD half ratio scaled") << 1 << 50.0 << 2.0 << 4.0 << 8.4322;
        QTest::newRow("QD negative ratio") << 1 << 50.0 << -0.5 << 1.0 << -8.4322;
        QTest::newRow("QD near the edge") << 1 << 50.0 << 0.99 << 1.0 << 32.1558;
        QTest::newRow("PSD 1.2 V") << 2 << 50.0 << -1.2 << 7.0 << -1.0;
        QTest::newRow("WID 65 um 1 V") << 3 << 65.0 << 1.0 << 0.0 << 10.0;
        QTest::newRow("WID ignores intensity") << 3 << 13.0 << -1.0 << 0.2 << -2.0;
        QTest::newRow("UV4 2.9 V") << 4 << 50.0 << 2.9 << 1.0 << 1.0;
        QTest::newRow("UV10 -3.3 V") << 5 << 50.0 << -3.3 << 1.0 << -3.0;
        QTest::newRow("QD signal = intensity") << 1 << 50.0 << 1.0 << 1.0 << NaN; // would be +Inf
        QTest::newRow("QD signal = -intensity") << 1 << 50.0 << -2.0 << 2.0 << NaN;
        QTest::newRow("QD intensity 0") << 1 << 50.0 << 0.3 << 0.0 << NaN;
        // No model lets a non-finite input through, whatever it does with the intensity.
        for (int type : {1, 2, 3, 4, 5}) {
            for (double bad : {NaN, Inf, -Inf}) {
                QTest::addRow("type %d signal %g", type, bad) << type << 50.0 << bad << 1.0 << NaN;
                if (type == 1)
                    QTest::addRow("type %d intensity %g", type, bad) << type << 50.0 << 0.1 << bad << (bad == bad ? 0.0 : NaN);
            }
        }
    }

    void positions()
    {
        QFETCH(int, type);
        QFETCH(double, signal);
        QFETCH(double, intensity);
        QFETCH(double, expected);
        QFETCH(double, beamDiameter);
        const double position = StageDetectors(type, beamDiameter, 1, 0, 50.0, 0, false).stage1()->calculatePosition(signal, intensity);
        const QByteArray text = QByteArray::number(position, 'g', 12);
        QCOMPARE(Detector::isValidPosition(position), !std::isnan(expected));
        if (std::isnan(expected))
            QVERIFY2(std::isnan(position), text.constData()); // never an infinity
        else
            QVERIFY2(std::abs(position - expected) < 5e-5, text.constData());
    }

    void stagePair()
    {
        StageDetectors entry(1, 80.0, 1, 3, 65.0, 0, true);
        const Detector *stage2 = entry.stage2();
        QCOMPARE(entry.stage1()->rangeMaximum(), 40.0); // QD, 80 µm, length
        QVERIFY(entry.stage(1) == stage2 && entry.stage(2) == nullptr);

        // setDetector keeps beam diameter and calculation and leaves the other stage.
        entry.setDetector(0, 2);
        entry.setDetector(2, 4); // ignored
        QCOMPARE(summary(*entry.stage1()), QStringLiteral("type=2 beam=0 target=1 decimals=4/3 range=-4.5..4.5 unit=2 mm"));
        QCOMPARE(entry.stage2(), stage2);

        // Assignment (also to itself) and copies are deep and keep each model's
        // class and settings: a WID stays a WID.
        StageDetectors copy(2, 10.0, 1, 1, 20.0, 0, false);
        copy = entry;
        entry.stage1()->beamDiameter = 13.0;
        const StageDetectors &self = copy;
        copy = self;
        const StageDetectors copied(copy);
        QCOMPARE(copied.stage1()->type(), 2);
        QCOMPARE(copied.stage1()->beamDiameter, 80.0);
        QCOMPARE(copied.stage2()->calculatePosition(1.0, 0.0), 10.0);
        QVERIFY(copied.triggerDisplay);
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
                QVERIFY2(entry.stage2()->beamDiameter == expected && entry.stage1()->beamDiameter == 65.0, where);
                QVERIFY2(entry.stage2()->rangeMaximum() == expected / 2, where);
                QVERIFY2(entry.stage2()->calculatePosition(0.5, 1.0) > 0, where); // never inverted
                QVERIFY2(!usable == log.contains("of stage 2 is not a positive number; using 50"), where);
            }
        }
        // A diameter carried over to a model that uses it is checked as well.
        StageDetectors entry;
        entry.stage1()->beamDiameter = 0.0;
        log.clear();
        entry.setDetector(0, 1);
        QCOMPARE(entry.stage1()->rangeMaximum(), 5.0); // volts: the diameter is not shown
        QCOMPARE(entry.stage1()->beamDiameter, 50.0);
        QVERIFY(log.contains("of stage 1 is not a positive number"));
    }
};

QTEST_GUILESS_MAIN(TestDetectors)
#include "tst_detectors.moc"
