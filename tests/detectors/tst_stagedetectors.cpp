#include "detectors/StageDetectors.h"

#include <QtTest>

// Building, copying and changing the detector pair of a controller.
class TestStageDetectors : public QObject
{
    Q_OBJECT

private slots:
    void constructionFromStoredSettings();
    void setDetectorKeepsSettings_data();
    void setDetectorKeepsSettings();
    void copyRestoresClasses();
    void assignmentIsDeep();
};

void TestStageDetectors::constructionFromStoredSettings()
{
    const StageDetectors entry(1, 80.0, 1, 3, 65.0, 0, true);
    QCOMPARE(entry.stage1()->type(), 1);
    QCOMPARE(entry.stage1()->beamDiameter, 80.0);
    QCOMPARE(entry.stage1()->calculation, 1);
    QCOMPARE(entry.stage1()->unitKind(), 1);
    QCOMPARE(entry.stage2()->type(), 3);
    QCOMPARE(entry.stage2()->beamDiameter, 65.0);
    QCOMPARE(entry.stage2()->calculation, 0);
    QVERIFY(entry.triggerDisplay);
    QCOMPARE(entry.stage(0), entry.stage1());
    QCOMPARE(entry.stage(1), entry.stage2());
    QCOMPARE(entry.stage(2), nullptr);

    const StageDetectors plain;
    QCOMPARE(plain.stage1()->type(), 0);
    QCOMPARE(plain.stage2()->beamDiameter, 50.0);
    QVERIFY(!plain.triggerDisplay);
}

void TestStageDetectors::setDetectorKeepsSettings_data()
{
    QTest::addColumn<int>("stageIndex");
    QTest::addColumn<int>("type");
    QTest::newRow("stage 1 QD -> PSD") << 0 << 2;
    QTest::newRow("stage 1 QD -> none") << 0 << 0;
    QTest::newRow("stage 2 WID -> UV10") << 1 << 5;
    QTest::newRow("stage 2 WID -> QD") << 1 << 1;
}

void TestStageDetectors::setDetectorKeepsSettings()
{
    QFETCH(int, stageIndex);
    QFETCH(int, type);
    StageDetectors entry(1, 80.0, 1, 3, 65.0, 2, false);
    const Detector *other = entry.stage(1 - stageIndex);
    const double diameter = entry.stage(stageIndex)->beamDiameter;
    const int calculation = entry.stage(stageIndex)->calculation;

    entry.setDetector(stageIndex, type);
    QCOMPARE(entry.stage(stageIndex)->type(), type);
    QCOMPARE(entry.stage(stageIndex)->beamDiameter, diameter);
    QCOMPARE(entry.stage(stageIndex)->calculation, calculation);
    QCOMPARE(entry.stage(1 - stageIndex), other); // the other stage is untouched

    entry.setDetector(2, 4); // ignored
    entry.setDetector(-1, 4);
    QCOMPARE(entry.stage(stageIndex)->type(), type);
}

void TestStageDetectors::copyRestoresClasses()
{
    StageDetectors source(5, 42.0, 1, 3, 65.0, 1, true);
    const StageDetectors copy(source);
    QCOMPARE(copy.stage1()->type(), 5);
    QCOMPARE(copy.stage2()->type(), 3);
    // A WID stays a WID: its own formula, not the base model's 0.
    QCOMPARE(copy.stage2()->calculatePosition(1.0, 0.0), 10.0);
    QCOMPARE(copy.stage1()->beamDiameter, 42.0);
    QCOMPARE(copy.stage2()->calculation, 1);
    QVERIFY(copy.triggerDisplay);
    QVERIFY(copy.stage1() != source.stage1());

    source.stage2()->beamDiameter = 13.0;
    QCOMPARE(copy.stage2()->beamDiameter, 65.0);
}

void TestStageDetectors::assignmentIsDeep()
{
    StageDetectors target(0, 50.0, 0, 0, 50.0, 0, false);
    {
        const StageDetectors source(2, 10.0, 1, 1, 20.0, 1, true);
        target = source;
    } // the source and its models are gone now
    QCOMPARE(target.stage1()->type(), 2);
    QCOMPARE(target.stage2()->type(), 1);
    QCOMPARE(target.stage2()->beamDiameter, 20.0);
    QVERIFY(target.triggerDisplay);

    const StageDetectors &self = target;
    target = self;
    QCOMPARE(target.stage1()->type(), 2);
    QCOMPARE(target.stage2()->rangeMaximum(), 10.0);

    QList<StageDetectors> list;
    list.append(StageDetectors(1, 30.0, 1, 2, 50.0, 0, false));
    list.append(StageDetectors(3, 65.0, 1, 4, 50.0, 1, true));
    list.removeAt(0);
    QCOMPARE(list.at(0).stage1()->type(), 3);
    QCOMPARE(list.at(0).stage2()->type(), 4);
}

QTEST_APPLESS_MAIN(TestStageDetectors)
#include "tst_stagedetectors.moc"
