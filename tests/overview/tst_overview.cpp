// The system configuration overview inside the main window, against the
// embedded simulator: the stage switches (judged by the controllers' command
// logs), the display box, the dragged order and its way through a saved and
// loaded setup.

#include "WindowFixture.h"

#include "overview/ConnectionOverviewDialog.h"
#include "overview/ListWidget.h"
#include "overview/OverviewWidget.h"
#include "setup/Settings.h"

#include <QCheckBox>
#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>

namespace {
ConnectionOverviewDialog *overviewOf(const WindowFixture &f) { return f.window->findChild<ConnectionOverviewDialog *>(); }

// Opens the dialog the way the user does, from the "Connection" menu.
ConnectionOverviewDialog *openOverview(const WindowFixture &f)
{
    QAction *action = f.widget<QAction>("actionSystemConfiguration");
    if (!action || !action->isEnabled())
        return nullptr;
    action->trigger();
    return overviewOf(f);
}

OverviewWidget *rowAt(ListWidget *list, int screenRow)
{
    return qobject_cast<OverviewWidget *>(list->itemWidget(list->item(screenRow)));
}

// The labels of the controller rows from top to bottom.
QStringList screenLabels(ConnectionOverviewDialog *dialog)
{
    QStringList labels;
    for (int r = 1; r < dialog->list()->count(); ++r)
        labels << rowAt(dialog->list(), r)->label();
    return labels;
}

// Where each controller's row is on screen, counted below the header.
QList<int> screenPlaces(ConnectionOverviewDialog *dialog)
{
    QList<int> places;
    for (int i = 0; i < dialog->rowCount(); ++i)
        for (int r = 1; r < dialog->list()->count(); ++r)
            if (rowAt(dialog->list(), r) == dialog->row(i))
                places << r - 1;
    return places;
}

// Drops the current row of the list at pos, as a drag inside the list ends.
// (The application delivers a drop only to the target of a running drag, so
// the list's drop handler is called directly.)
struct DropAccess : ListWidget
{
    using ListWidget::dropEvent;
};
void dropAt(ListWidget *list, const QPoint &pos)
{
    std::unique_ptr<QMimeData> data(list->model()->mimeData({list->currentIndex()}));
    QDropEvent drop(pos, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    void (ListWidget::*handler)(QDropEvent *) = &DropAccess::dropEvent;
    (list->*handler)(&drop);
}

} // namespace

class OverviewTest : public QObject
{
    Q_OBJECT

    RowShared<WindowFixture> shared;
    WindowFixture *sharedOverview(int controllers)
    {
        return shared.get([controllers](WindowFixture &f) { return f.connect(controllers) && openOverview(f); });
    }

private slots:
    void init() { shared.drop(); }
    void cleanup() { shared.dropIfFailed(); }
    void cleanupTestCase() { shared.drop(); }

    void stageSwitchCommandsItsStage_data()
    {
        QTest::addColumn<int>("controller");
        QTest::addColumn<int>("stage");
        QTest::addColumn<bool>("refused");
        QTest::newRow("controller 2, stage 1") << 1 << 1 << false;
        QTest::newRow("controller 2, stage 2") << 1 << 2 << false;
        QTest::newRow("controller 1, stage 2, refused") << 0 << 2 << true;
    }
    void stageSwitchCommandsItsStage()
    {
        QFETCH(int, controller);
        QFETCH(int, stage);
        QFETCH(bool, refused);
        WindowFixture *fixture = sharedOverview(2);
        QVERIFY(fixture);
        WindowFixture &f = *fixture;
        f.refuse(controller, refused ? QSet<QByteArray>{"SEA"} : QSet<QByteArray>());
        f.sim.clearCommandLog(0);
        f.sim.clearCommandLog(1);
        const char *name = stage == 1 ? "enable1" : "enable2";
        QPushButton *button = child(overviewOf(f)->row(controller), name);
        QCOMPARE(button->text(), QStringLiteral("OFF"));
        QTest::mouseClick(button, Qt::LeftButton);

        // The switch is a request on the controller: it reaches the wire a little later.
        const QByteArray arguments = QByteArray(1, char(stage)) + ';';
        QTRY_COMPARE_WITH_TIMEOUT(f.commands(controller, "SEA"), QList<QByteArray>{"SEA" + arguments}, 5000);
        QVERIFY(f.commands(1 - controller, "SEA").isEmpty());
        if (refused) {
            // The switch shows what the controller reports, through several status polls.
            const int polls = f.commands(controller, "GSF").size();
            QTRY_VERIFY_WITH_TIMEOUT(f.commands(controller, "GSF").size() >= polls + 3, 5000);
            QVERIFY(button->text() == QStringLiteral("OFF"));
            QVERIFY(!button->isChecked());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(button->text(), QStringLiteral("ON"), 5000);
        QVERIFY(button->isChecked());
        QCOMPARE(child(overviewOf(f)->row(1 - controller), name)->text(), QStringLiteral("OFF"));
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(f.commands(controller, "CEA"), QList<QByteArray>{"CEA" + arguments}, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(button->text(), QStringLiteral("OFF"), 5000);

        // The row's parameter button opens the dialog of its controller.
        QSignalSpy params(overviewOf(f), &ConnectionOverviewDialog::openParamDialog);
        QTest::mouseClick(child(overviewOf(f)->row(controller), "parameterPushButton"), Qt::LeftButton);
        QCOMPARE(params, QList<QList<QVariant>>{{simAddress(controller)}});
    }

    // A busy controller's row takes no Start/Stop click until it is free; a
    // status update meanwhile does not enable the switches, and only that
    // controller's row is marked.
    void busyRowDisablesItsSwitchesOnly()
    {
        ConnectionOverviewDialog dialog;
        QList<ControllerStatus> status{ControllerStatus(), ControllerStatus()};
        for (int i = 0; i < 2; ++i) {
            status[i].address = simAddress(i);
            status[i].connected = true;
        }
        dialog.updateConnections(status);
        const auto switches = [&](int i) {
            return QString("%1%2").arg(child(dialog.row(i), "enable1")->isEnabled()).arg(child(dialog.row(i), "enable2")->isEnabled());
        };
        dialog.setControllerBusy(simAddress(1), true);
        status[1].stabOn1 = true;
        dialog.updateConnections(status);
        QCOMPARE(switches(0) + switches(1), QString("1100"));
        QVERIFY(child(dialog.row(1), "parameterPushButton")->isEnabled());
        dialog.setControllerBusy(simAddress(1), false);
        QCOMPARE(switches(1), QString("11"));
        status[1].connected = false; // not connected wins over not busy
        dialog.updateConnections(status);
        QCOMPARE(switches(1), QString("00"));
    }

    void showBoxHidesAndShowsTheCurves()
    {
        WindowFixture f;
        QVERIFY(f.connect(2));
        ConnectionOverviewDialog *dialog = openOverview(f);
        QVERIFY(f.acquire(2));
        QTRY_VERIFY_WITH_TIMEOUT(curveSize(f.window->timePlot(1), 2) > 0, 5000);

        QCheckBox *show = child<QCheckBox>(dialog->row(1), "showCheckBox");
        QTest::mouseClick(show, Qt::LeftButton);
        QVERIFY(f.window->controllerRegistry().displayed == QList<int>{0});
        QVERIFY(!f.window->controllerRegistry().controllerStatus.at(1).shown);
        QTRY_VERIFY_WITH_TIMEOUT(!f.sim.isStreaming(1), 5000);
        // Controller 1 goes on being drawn, controller 2 does not.
        const int before = int(f.sim.counters(0).streamMessagesSent);
        QTRY_VERIFY_WITH_TIMEOUT(f.sim.counters(0).streamMessagesSent > before + 50, 5000);
        QCOMPARE((QList<int>{curveSize(f.window->timePlot(1), 2), curveSize(f.window->timePlot(2), 2), curveSize(f.window->positionPlot(1), 1)}),
                 (QList<int>{0, 0, 0}));

        QTest::mouseClick(show, Qt::LeftButton);
        QVERIFY(show->isChecked());
        QVERIFY(f.window->controllerRegistry().displayed == QList<int>({0, 1}));
        QVERIFY(f.streaming(2, true));
        QTRY_VERIFY_WITH_TIMEOUT(curveSize(f.window->positionPlot(1), 1) > 0 && curveSize(f.window->intensityPlot(2), 1) > 0, 5000);
    }

    // Drops one after another, then the order through a saved and loaded
    // setup: each row lands where it was dropped, the header stays on top
    // and cannot be moved or dropped on, and rows stay with their controllers.
    void draggedOrderSurvivesSaveAndLoad()
    {
        struct Drop { int from, onto; bool lowerHalf; QStringList screen; QList<int> order; }; // onto -1: the header area
        const QList<Drop> drops{
            {1, 3, true, {"SIM1", "SIM2", "SIM0"}, {2, 0, 1}},   // first to last
            {0, 2, true, {"SIM1", "SIM2", "SIM0"}, {2, 0, 1}},   // the header dragged
            {3, -1, false, {"SIM1", "SIM2", "SIM0"}, {2, 0, 1}}, // onto the header area
            {3, 1, false, {"SIM0", "SIM1", "SIM2"}, {0, 1, 2}},  // last to first
            {3, 1, false, {"SIM2", "SIM0", "SIM1"}, {1, 2, 0}},
        };
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("setup.xml"));
        QList<ConnectionSettings> records;
        WindowFixture f;
        QVERIFY(f.start(3));
        for (int i = 0; i < 3; ++i) {
            records << simSettings(i);
            records[i].label = QStringLiteral("SIM%1").arg(i);
            records[i].id = QStringLiteral("ORX-SIMULATED-UNIT-0000%1-V31").arg(i);
            records[i].portOrBaud = 2000 + i;
            QVERIFY(f.add(i, records[i], false));
        }
        ConnectionOverviewDialog *dialog = openOverview(f);
        ListWidget *list = dialog->list();
        QVERIFY(!(list->item(0)->flags() & Qt::ItemIsDragEnabled));
        QVERIFY((list->item(1)->flags() & Qt::ItemIsDragEnabled));
        for (const Drop &drop : drops) {
            list->setCurrentRow(drop.from);
            QPoint pos(list->viewport()->width() / 2, ListWidget::headerArea / 2);
            if (drop.onto >= 0) {
                const QRect rect = list->visualItemRect(list->item(drop.onto));
                pos.setY(drop.lowerHalf ? rect.bottom() - 2 : rect.top() + 2);
            }
            dropAt(list, pos);
            QCOMPARE(screenLabels(dialog), drop.screen);
            QCOMPARE(dialog->order(), drop.order);
            QCOMPARE(screenPlaces(dialog), drop.order);
            QVERIFY(rowAt(list, 0)->isHeader());
        }
        // A new label reaches the row of that controller wherever it is.
        f.window->changeLabel(simAddress(0), QStringLiteral("FIRST"));
        QTRY_COMPARE_WITH_TIMEOUT(rowAt(list, 2)->label(), QStringLiteral("FIRST"), 5000);

        QVERIFY(f.window->updateSettingsAndParameters(records));
        QCOMPARE((QList<int>{records[0].position, records[1].position, records[2].position}), (QList<int>{1, 2, 0}));
        Settings saving;
        QVERIFY(saving.setConnections(inSystemOrder(records)));
        QVERIFY(saving.saveConnectionFile(path));
        QVERIFY(saving.saveDetectorFile(path));

        // A removed controller takes only its own row with it.
        QVERIFY(closeController(f.window.get(), simAddress(1)));
        QTRY_COMPARE_WITH_TIMEOUT(dialog->rowCount(), 2, 5000);
        QCOMPARE(screenLabels(dialog), QStringList({"SIM2", "FIRST"}));
        QCOMPARE(dialog->order(), screenPlaces(dialog));

        // A new window gets the controllers in the order of the file, as loading a setup hands them over.
        f.window.reset();
        Settings loading;
        QList<ConnectionSettings> loaded;
        QVERIFY(loading.loadFile(path));
        QVERIFY(loading.connections(loaded));
        f.openWindow();
        for (const ConnectionSettings &record : loaded)
            QVERIFY(f.add(record.name.section(QLatin1Char('.'), 3).toInt() - 1, record, false));
        QCOMPARE(screenLabels(overviewOf(f)), QStringList({"SIM2", "SIM0", "SIM1"}));
        QCOMPARE(overviewOf(f)->order(), QList<int>({0, 1, 2}));
    }
};

QTEST_MAIN(OverviewTest)
#include "tst_overview.moc"
