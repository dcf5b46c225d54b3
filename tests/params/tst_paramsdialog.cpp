// The parameters dialog against the embedded simulator, driven through the
// form's object names; what reached a controller is judged by the state the
// simulator holds afterwards, not only by the bytes it received.

#include "display/PlotPanel.h"
#include "controller/Controller.h"
#include "controller/LinkSequences.h"
#include "SetupTestUtil.h"
#include "WindowFixture.h"

#include "app/StartupFlags.h"
#include "display/PointingStatistics.h"
#include "params/ParamsDialog.h"
#include "setup/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include "controller/FutureCallback.h"

namespace {

QByteArray raw(const char *bytes, int size) { return QByteArray(bytes, size); }

struct DialogFixture : WindowFixture
{
    ParamsDialog *dialog = nullptr;

    bool open(int controllers, const SimConfig &config = SimConfig(), int shown = 0)
    {
        if (!connect(controllers, config))
            return false;
        dialog = window->parts().params;
        return openOn(shown);
    }
    // Points the dialog at controller i and waits for its reading.
    bool openOn(int i) const
    {
        dialog->openDialog(simAddress(i));
        return dialog->isVisible() && idle();
    }
    // Waits until the dialog's requests have been shown.
    bool idle() const { return QTest::qWaitFor([&] { return !dialog->isBusy(); }, 20000); }
    // Every answer controller i owes has been delivered to the dialog's thread.
    bool drained(int i) const
    {
        bool done = false;
        whenReady(window->controllerRegistry().controllers.at(i)->request([](Connection &) { return 0; }), dialog, [&](int) { done = true; });
        return QTest::qWaitFor([&] { return done; }, 20000);
    }
    template<typename T>
    T *w(const char *name) const { return dialog->findChild<T *>(QLatin1String(name)); }
    QRadioButton *radio(const QString &name) const { return w<QRadioButton>(qPrintable(name)); }
    QDoubleSpinBox *spin(const char *name) const { return w<QDoubleSpinBox>(name); }
    // Clicks as a user does once the dialog is free, and waits for the outcome.
    void click(const char *name) const
    {
        idle();
        QTest::qWaitFor([&] { return w<QAbstractButton>(name)->isEnabled(); }, 5000);
        w<QAbstractButton>(name)->click();
        idle();
    }
    // Selects a radio button the way a user does: a click unless it is selected.
    void choose(const char *name) const
    {
        if (!radio(name)->isChecked())
            click(name);
    }
    void setType(int stage, int type) const { w<QComboBox>(stage == 1 ? "comboBox_DetecType" : "comboBox_DetecType_2")->setCurrentIndex(type); }
    // Sends one raw command to controller i as a request of its own, behind
    // the window's status polls.
    void send(int i, const QByteArray &command) const
    {
        const QFuture<QByteArray> reply =
            window->controllerRegistry().controllers.at(i)->request([command](Connection &link) { return LinkSequences::ask(link, command); });
        QTest::qWaitFor([&] { return reply.isFinished(); }, 20000);
    }
    QString info() const { return dialog->messageBox()->informativeText(); }
    // The codes controller i received apart from the window's status polls.
    QStringList ownCodes(int i) const { return codes(i).filter(QRegularExpression("^(?!GSF)")); }
};

// Declares f, the fixture the expression gives; a null one fails the test.
#define FIXTURE(expression) \
    DialogFixture *fixture = (expression); QVERIFY(fixture); DialogFixture &f = *fixture

// Points the per-user data directory at a fresh temporary one while alive.
struct DataDirectory
{
    QTemporaryDir dir;
    const QDir previous = dataDirectory;
    DataDirectory() { dataDirectory = QDir(dir.path()); }
    ~DataDirectory() { dataDirectory = previous; }
};

// Group identifications of three controllers and what "Apply positions" on
// the first of them does: the partner it finds (-1: missing), whether it is
// then locked, and the message shown.
struct GroupRow
{
    QList<int> groups;
    bool partnerPollFailed, commonFlagsSet;
    int partner;
    bool lock;
    QByteArray refused; // refused by the partner, or GCA by the first controller
    QString message;
};

} // namespace

Q_DECLARE_METATYPE(GroupRow)

class ParamsDialogTest : public QObject
{
    Q_OBJECT

    RowShared<DialogFixture> shared;
    // The dialog opened afresh on the kept window with one controller.
    DialogFixture *sharedDialog()
    {
        DialogFixture *f = shared.get([](DialogFixture &f) { return f.open(1); });
        if (!f)
            return nullptr;
        f->sim.setFaults(0, SimFaults());
        f->sim.clearCommandLog(0);
        f->dialog->messageBox()->hide();
        return f->openOn(0) ? f : nullptr;
    }

private slots:
    void init()
    {
        detectorTuning = false;
        shared.drop();
    }
    void cleanup() { shared.dropIfFailed(); }
    void cleanupTestCase() { shared.drop(); }

    void refreshShowsWhatTheControllerHolds_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QStringList>("shown"); // spin box, its value and text, the radio button checked
        QTest::newRow("sensitivity 0 is external") << raw("SDS\x01\x00\x00;", 7) << QStringList{"doubleSpinBox_sens_1", "0 0.00", "radioButton_sensitivity_extern"};
        QTest::newRow("sensitivity 2.5 V") << raw("SDS\x02\x09\xC4;", 7) << QStringList{"doubleSpinBox_sens_2", "2.5 2.50", ""};
        QTest::newRow("P-factor 0 shows the minimum") << raw("SPF\x01\x00\x00;", 7) << QStringList{"doubleSpinBox_PFactor", "0.01 0.01", "radioButton_PFactor_extern"};
        QTest::newRow("software P-factor 1.25") << raw("SPF\x02\x04\xE2;", 7) << QStringList{"doubleSpinBox_PFactor_2", "1.25 1.25", "radioButton_PFactor_intern"};
        QTest::newRow("negative adjust-in") << raw("SAI\x02y\xFE\x0C;", 8) << QStringList{"doubleSpinBox_AdjustY_2", "-0.5 -0.500", "radioButton_Adjust_intern_2"};
    }
    void refreshShowsWhatTheControllerHolds()
    {
        QFETCH(QByteArray, command);
        QFETCH(QStringList, shown);
        detectorTuning = true;
        FIXTURE(sharedDialog());
        f.send(0, command);
        f.click("pushButtonRefresh");
        QDoubleSpinBox *spin = f.spin(qPrintable(shown[0]));
        QCOMPARE(QString::number(spin->value()) + ' ' + spin->text(), shown[1]);
        QVERIFY(shown[2].isEmpty() || f.radio(shown[2])->isChecked());
    }

    void applyWritesConfirmedValues_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("adjustSoftware");
        QTest::addColumn<int>("expectedX");
        QTest::addColumn<int>("expectedY");
        QTest::newRow("PSD takes the software target") << 2 << true << 1234 << -500;
        QTest::newRow("UV PSD 10 mm takes it too") << 5 << true << 1234 << -500;
        QTest::newRow("4QD overrides software with 0") << 1 << true << 0 << 0;
        QTest::newRow("WID overrides software with 0") << 3 << true << 0 << 0;
        QTest::newRow("PSD, external") << 2 << false << 0 << 0;
    }
    void applyWritesConfirmedValues()
    {
        QFETCH(int, type);
        QFETCH(bool, adjustSoftware);
        QFETCH(int, expectedX);
        QFETCH(int, expectedY);
        FIXTURE(sharedDialog());
        // Values the dialog must overwrite.
        for (const QByteArray &command : {raw("SAI\x01x\x07\xD0;", 8), raw("SAI\x01y\x07\xD0;", 8),
                                          raw("SPF\x01\x00\x00;", 7), raw("SPF\x02\x00\x00;", 7)})
            f.send(0, command);
        f.setType(1, 2);
        f.choose(adjustSoftware ? "radioButton_Adjust_intern" : "radioButton_Adjust_extern");
        f.spin("doubleSpinBox_AdjustX")->setValue(1.234);
        f.spin("doubleSpinBox_AdjustY")->setValue(-0.5);
        f.setType(1, type); // after the targets: a type without software targets overrides them
        f.choose("radioButton_PFactor_intern");
        QVERIFY(f.radio("radioButton_PFactor_intern_2")->isChecked()); // one source for both stages
        f.spin("doubleSpinBox_PFactor")->setValue(1.5);
        f.spin("doubleSpinBox_PFactor_2")->setValue(2.25);
        f.sim.clearCommandLog(0);
        f.click("pushButtonApply");

        const SimStageState s1 = f.sim.stageState(0, 0);
        QCOMPARE(QList<int>({s1.adjustIn[0], s1.adjustIn[1], s1.pFactor, f.sim.stageState(0, 1).pFactor}),
                 QList<int>({expectedX, expectedY, 1500, 2250}));
        QCOMPARE(f.commands(0, "SAI").size(), 4);
        QCOMPARE(f.window->controllerRegistry().stageDetectors.at(0).stage1()->type(), type);
        QVERIFY(!f.dialog->messageBox()->isVisible());
    }

    void applyFallsBackToExternalOnRefusal_data()
    {
        QTest::addColumn<QByteArray>("refused");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("externalRadio"); // for stage 1; "_2" is added for stage 2
        QTest::addColumn<QByteArray>("stillSent");
        QTest::newRow("P-factor") << QByteArray("SPF") << "P-Factor of stage 1 wasn't set!" << "radioButton_PFactor_extern" << raw("SPF\x02\x00\x00;", 7);
        QTest::newRow("sensitivity") << QByteArray("SDS") << "Sensitivity cable of detector 2 is not connected!" << "radioButton_sensitivity_extern"
                                     << raw("SAI\x02y\x00\x00;", 8);
        QTest::newRow("adjust-in, both axes still sent") << QByteArray("SAI") << "y-adjust value of stage 2 has not been accepted "
                                                         << "radioButton_Adjust_extern" << raw("SAI\x02y\x00\x00;", 8);
    }
    void applyFallsBackToExternalOnRefusal()
    {
        QFETCH(QByteArray, refused);
        QFETCH(QString, message);
        QFETCH(QString, externalRadio);
        QFETCH(QByteArray, stillSent);
        detectorTuning = true;
        FIXTURE(sharedDialog());
        f.setType(1, 2);
        f.setType(2, 2);
        for (const char *name : {"radioButton_PFactor_intern", "radioButton_Adjust_intern", "radioButton_Adjust_intern_2",
                                 "radioButton_sensitivity_software", "radioButton_sensitivity_software_2"})
            f.choose(name);
        for (const auto &[name, value] : {std::make_pair("doubleSpinBox_PFactor", 0.8), {"doubleSpinBox_sens_1", 1.2}, {"doubleSpinBox_sens_2", 1.3}})
            f.spin(name)->setValue(value);
        const SimStageState before = f.sim.stageState(0, 0), before2 = f.sim.stageState(0, 1);
        f.refuse(0, {refused});
        f.sim.clearCommandLog(0);
        f.click("pushButtonApply");

        QTRY_VERIFY(f.dialog->messageBox()->isVisible());
        QCOMPARE(f.info(), message);
        QVERIFY(f.radio(externalRadio)->isChecked());
        QVERIFY(f.radio(externalRadio + "_2")->isChecked());
        QVERIFY(f.sim.commandLog(0).contains(stillSent));
        // Nothing refused changed on the controller; what was accepted did.
        const SimStageState after = f.sim.stageState(0, 0);
        QVERIFY(refused != "SPF" || after.pFactor == before.pFactor);
        QVERIFY(refused != "SDS" || after.sensitivity == before.sensitivity);
        QVERIFY(refused != "SAI" || (f.commands(0, "SAI").size() == 4 && after.adjustIn[0] == before.adjustIn[0]));
        QCOMPARE(f.sim.stageState(0, 1).sensitivity, refused == "SDS" ? before2.sensitivity : 1300);
    }

    // Save stores what was applied, merged into the file there is.
    void saveStoresAppliedDetectorsOnly_data()
    {
        QTest::addColumn<bool>("applyFirst");
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<int>("savedType");
        QTest::newRow("type changed without Apply keeps the applied one") << false << QByteArray() << 0;
        QTest::newRow("applied type and unit, merged into an existing setup")
            << true << setupXml(R"(<Device_other><General pulsedLaser="1"/></Device_other>)") << 3;
    }
    void saveStoresAppliedDetectorsOnly()
    {
        QFETCH(bool, applyFirst);
        QFETCH(QByteArray, existing);
        QFETCH(int, savedType);
        DataDirectory data;
        const QString path = Settings::defaultFilePath();
        QVERIFY(existing.isEmpty() || writeFile(path, existing));
        FIXTURE(sharedDialog()); // the first row applies nothing before its save
        f.setType(1, 3);
        f.choose("radioButtonPositionInLength");
        f.spin("beamDiameterSpinBox")->setValue(120);
        if (applyFirst)
            f.click("pushButtonApply");
        f.click("pushButtonSave");

        Settings stored;
        QVERIFY(stored.loadFile(path));
        ConnectionSettings saved = record(f.sim.identification(0));
        QVERIFY(stored.restoreDetectorSettings(saved));
        CHECK_FIELDS(saved, QString("model1=%1;calculation1=%2;beamDiameter1=%3").arg(savedType).arg(int(applyFirst)).arg(applyFirst ? 120 : 50));
        QCOMPARE(stored.records().size(), existing.isEmpty() ? 1 : 2);
    }

    // "Apply positions" with three controllers: which one is the partner,
    // what it receives, and what a refusal on the way leaves behind.
    void groupOperationsFindTheRightPartner_data()
    {
        QTest::addColumn<GroupRow>("r");
        const QString missing = QStringLiteral("The partner system was not found. Please check the group identifications");
        const QString silent = QStringLiteral("The second subsystem didn't respond. Please retry.");
        // The rows share one window, so the partner is locked once: a lock,
        // like a missing partner, leaves its button disabled for good.
        QTest::newRow("first of three in one group") << GroupRow{{4, 4, 4}, false, false, 1, true, "", ""};
        QTest::newRow("only the third is in the group") << GroupRow{{4, 2, 4}, false, false, 2, false, "", ""};
        QTest::newRow("common flags already set: no SMD") << GroupRow{{4, 4, 4}, false, true, 1, false, "", ""};
        QTest::newRow("partner refuses SMD") << GroupRow{{7, 7, 0}, false, false, 1, false, "SMD", silent};
        QTest::newRow("partner refuses SAI") << GroupRow{{7, 7, 0}, false, false, 1, false, "SAI", silent};
        QTest::newRow("common detector unavailable") << GroupRow{{7, 7, 0}, false, false, 1, false, "GCA",
                                                                 "The values of the common detector were not available. Please retry."};
        QTest::newRow("no other controller in the group") << GroupRow{{4, 2, 3}, false, false, -1, false, "", missing};
        QTest::newRow("partner's last poll failed") << GroupRow{{4, 4, 4}, true, false, -1, false, "", missing};
    }
    void groupOperationsFindTheRightPartner()
    {
        QFETCH(GroupRow, r);
        const int partner = r.partner;
        const QByteArray refused = r.refused;
        const QByteArray kind = partner < 0 ? QByteArray(QTest::currentDataTag()) : QByteArray();
        FIXTURE(shared.get([](DialogFixture &f) { return f.open(3); }, kind));
        f.dialog->messageBox()->hide();
        for (int i = 0; i < 3; ++i) {
            f.sim.setFaults(i, SimFaults());
            for (int stage : {1, 2})
                f.window->multiplexSystem(simAddress(i), r.commonFlagsSet && i == 1, stage);
            f.window->changeGroupId(simAddress(i), r.groups.at(i));
        }
        // The multiplex switches are requests: they have been carried out once the flags say so.
        for (int i = 0; i < 3; ++i) {
            const bool on = r.commonFlagsSet && i == 1;
            QTRY_VERIFY_WITH_TIMEOUT(f.window->controllerRegistry().controllerStatus.at(i).multiplex1 == on
                                         && f.window->controllerRegistry().controllerStatus.at(i).multiplex2 == on,
                                     5000);
        }
        QVERIFY(f.openOn(0));
        if (r.partnerPollFailed) {
            disconnectController(f.window.get(), simAddress(1));
            QTRY_VERIFY_WITH_TIMEOUT(!f.window->controllerRegistry().controllerStatus.at(1).connected, 10000);
        }
        if (!refused.isEmpty())
            f.refuse(refused == "GCA" ? 0 : 1, {refused});
        for (int i = 0; i < 3; ++i)
            f.sim.clearCommandLog(i);

        QVERIFY(f.w<QPushButton>("alignPushButton")->isEnabled());
        f.click("alignPushButton");
        for (int i = 1; i < 3; ++i)
            QVERIFY2(i == partner || f.ownCodes(i).isEmpty(), qPrintable(f.ownCodes(i).join(' ')));
        QCOMPARE(f.dialog->messageBox()->isVisible() ? f.info() : QString(), r.message);
        if (partner < 0) {
            QCOMPARE(f.w<QLabel>("partnerLabel")->text(), QStringLiteral("Missing"));
            QVERIFY(!f.w<QPushButton>("alignPushButton")->isEnabled());
            QVERIFY(f.commands(0, "GCA").isEmpty());
            return;
        }
        const ControllerStatus &status = f.window->controllerRegistry().controllerStatus.at(partner);
        if (!refused.isEmpty()) {
            // The common-detector flags say what the partner accepted.
            QCOMPARE(f.commands(partner, "SAI").size(), refused == "SAI" ? 1 : 0);
            QVERIFY(status.multiplex1 == (refused != "SMD"));
            QVERIFY(status.multiplex2 == (refused != "SMD"));
            return;
        }
        QCOMPARE(f.commands(partner, "SMD").size(), r.commonFlagsSet ? 0 : 2);
        QVERIFY(f.sim.stageState(partner, 0).multiplex);
        QVERIFY(f.sim.stageState(partner, 1).multiplex);
        QCOMPARE(f.commands(0, "GCA").size(), 1);
        // Each axis in turn, and the partner holds the value sent.
        QStringList sent, held;
        for (const QByteArray &command : f.commands(partner, "SAI"))
            sent << command.mid(3, 2).toHex() + ' ' + QString::number(qint16((quint8(command.at(5)) << 8) | quint8(command.at(6))));
        for (int i = 0; i < 4; ++i)
            held << QString("0%1%2 %3").arg(i / 2 + 1).arg(int("xy"[i % 2]), 0, 16).arg(f.sim.stageState(partner, i / 2).adjustIn[i % 2]);
        QCOMPARE(sent, held);
        if (!r.lock)
            return;
        // Locking the partner takes both its stages off the common detectors.
        f.click("lockSubsystemButton");
        QCOMPARE(f.commands(partner, "SSE"), QList<QByteArray>({raw("SSE\x01;", 5), raw("SSE\x02;", 5)}));
        QVERIFY(!status.multiplex1);
        QVERIFY(!status.multiplex2);
        QVERIFY(!f.w<QPushButton>("lockSubsystemButton")->isEnabled());
        QVERIFY(!f.sim.stageState(partner, 0).multiplex);
        QVERIFY(f.sim.stageState(partner, 0).stabilization);
    }

    void applyDuringAcquisitionKeepsStreamAndReachesDisplay()
    {
        DialogFixture f;
        QVERIFY(f.open(1));
        f.dialog->close();
        f.widget<QRadioButton>("radioPointingMode")->click();
        f.counter("counterSamplingRate")->setValue(200);
        f.startAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(f.sim.isStreaming(0), 5000);

        QVERIFY(f.openOn(0));
        QVERIFY(f.sim.isStreaming(0)); // the refresh resumed it
        f.setType(1, 2);
        f.click("radioButtonPositionInLength");
        f.sim.clearCommandLog(0);
        f.click("pushButtonApply");
        QVERIFY(f.codes(0).first() == "CLS");
        QVERIFY(f.sim.commandLog(0).last() == raw("SLS\x00\x00\x00\xC8;", 8));
        QVERIFY(f.sim.isStreaming(0));
        QVERIFY(!f.window->parts().streamError->isVisible());

        // Next ticks: captions and statistics in millimetres.
        QTRY_COMPARE_WITH_TIMEOUT(f.widget<QLabel>("label_positionX")->text(), QStringLiteral("Position x [mm]"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(f.window->parts().plotPanel->statistics()->text(1).contains(QStringLiteral("mm")), 10000);
        f.startAction()->trigger();
    }

    void setHoldTakesThePositionOfItsStage_data()
    {
        QTest::addColumn<int>("stage");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("stage 1 reads the sample first") << 1 << QStringList{"S1S", "SSH"};
        QTest::newRow("stage 2 holds first") << 2 << QStringList{"SSH", "S1S"};
    }
    void setHoldTakesThePositionOfItsStage()
    {
        QFETCH(int, stage);
        QFETCH(QStringList, order);
        DialogFixture f;
        QVERIFY(f.open(1));
        f.setType(stage, 2);
        f.sim.clearCommandLog(0);
        f.click(stage == 1 ? "pushButton_SetHold" : "pushButton_SetHold_2");
        QCOMPARE(f.ownCodes(0).mid(0, 2), order); // then the refresh
        QVERIFY(f.sim.stageState(0, stage - 1).setHold);
        QVERIFY(!f.sim.stageState(0, 2 - stage).setHold);
        // Set & Hold takes the chosen type into the stage model; the other stage keeps its own.
        const StageDetectors &detectors = f.window->controllerRegistry().stageDetectors.at(0);
        QVERIFY(detectors.stage(stage - 1)->type() == 2);
        QVERIFY(detectors.stage(2 - stage)->type() == 0);
    }

    // A controller that answers 700 ms late: the user-interface thread runs on
    // (a timer keeps firing), the action buttons are disabled and the title
    // says busy meanwhile; the reading is shown when it comes, unless the
    // dialog shows another controller by then.
    void lateReadingKeepsTheWindowFreeAndStaysWithItsController_data()
    {
        QTest::addColumn<bool>("switchAway");
        QTest::newRow("shown when it comes") << false;
        QTest::newRow("dropped after switching controller") << true;
    }
    void lateReadingKeepsTheWindowFreeAndStaysWithItsController()
    {
        QFETCH(bool, switchAway);
        FIXTURE(shared.get([](DialogFixture &f) { return f.open(2); }));
        QVERIFY(f.openOn(1));
        f.send(0, raw("SPF\x01\x04\xE2;", 7)); // 1.25 on controller 0
        f.send(1, raw("SPF\x01\x00\x00;", 7));  // external on controller 1
        SimFaults late;
        late.replyDelayByPrefix.insert("GPF", 700);
        f.sim.setFaults(0, late);
        f.sim.clearCommandLog(0);
        Controller *first = f.window->controllerRegistry().controllers.at(0);
        int ticksWhileBusy = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ticksWhileBusy += first->isBusy() ? 1 : 0; });
        ticker.start(10);

        f.dialog->openDialog(simAddress(0));
        QVERIFY(f.dialog->isBusy());
        QVERIFY(f.dialog->windowTitle().endsWith("Busy..."));
        for (const char *name : {"pushButtonApply", "pushButtonSave", "pushButtonRefresh"})
            QVERIFY2(!f.w<QPushButton>(name)->isEnabled(), name);
        f.w<QPushButton>("pushButtonApply")->click(); // ignored while busy
        if (switchAway)
            f.dialog->openDialog(simAddress(1));
        QVERIFY(f.drained(0));
        QVERIFY(f.idle());
        f.sim.setFaults(0, SimFaults());

        QVERIFY2(ticksWhileBusy >= 3, qPrintable(QString::number(ticksWhileBusy)));
        QVERIFY(f.commands(0, "SPF").isEmpty());
        QCOMPARE(f.dialog->currentIndex(), switchAway ? 1 : 0);
        QCOMPARE(f.spin("doubleSpinBox_PFactor")->value(), switchAway ? 0.01 : 1.25);
        QVERIFY(f.w<QPushButton>("pushButtonApply")->isEnabled());
        QVERIFY(f.dialog->windowTitle() == "Parameters");
    }

    void removingControllersKeepsTheDialogOnItsController()
    {
        DialogFixture f;
        QVERIFY(f.open(3, SimConfig(), 2));
        QCOMPARE(f.dialog->currentIndex(), 2);
        QVERIFY(closeController(f.window.get(), simAddress(0)));
        QVERIFY(f.window->controllerRegistry().stageDetectors.size() == 2);
        QVERIFY(f.dialog->currentIndex() == 1);
        QVERIFY(f.dialog->isVisible());
        QVERIFY(closeController(f.window.get(), simAddress(2)));
        QVERIFY(f.window->controllerRegistry().stageDetectors.size() == 1);
        QVERIFY(!f.dialog->isVisible());
    }
};

QTEST_MAIN(ParamsDialogTest)
#include "tst_paramsdialog.moc"
