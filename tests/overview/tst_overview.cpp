// The system configuration overview inside the main window, against the
// embedded simulator: rows per controller, the stage switches (judged by the
// controllers' command logs), the display box, the colours, the dragged
// order and its way through a saved and loaded setup.

#include "WindowFixture.h"

#include "overview/ConnectionOverviewDialog.h"
#include "overview/ListWidget.h"
#include "overview/OverviewWidget.h"
#include "setup/Settings.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QTemporaryDir>

namespace {
ConnectionOverviewDialog *overviewOf(const WindowFixture &f)
{
    return f.window->findChild<ConnectionOverviewDialog *>();
}

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

// Whether the row's stage switches and parameter button can be used.
bool controlsEnabled(OverviewWidget *row)
{
    for (const char *name : {"enable1", "enable2", "parameterPushButton"})
        if (!child(row, name)->isEnabled())
            return false;
    return true;
}
} // namespace

class OverviewTest : public QObject
{
    Q_OBJECT

    RowShared<WindowFixture> shared;

private slots:
    void init() { shared.drop(); }
    void cleanup() { shared.dropIfFailed(); }
    void cleanupTestCase() { shared.drop(); }

    void rowsFollowTheControllers()
    {
        WindowFixture f;
        QVERIFY(f.start(4));
        ConnectionOverviewDialog *dialog = openOverview(f);
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(dialog->list()->count() == 1 && rowAt(dialog->list(), 0)->isHeader());

        for (int i = 0; i < 3; ++i)
            QVERIFY(f.add(i));
        QCOMPARE(screenLabels(dialog), QStringList({"SIM0", "SIM1", "SIM2"}));
        OverviewWidget *row = dialog->row(1);
        QCOMPARE(row->name(), simAddress(1));
        QVERIFY(controlsEnabled(row) && child<QCheckBox>(row, "showCheckBox")->isChecked());

        // A link handed over without a connection gets a row whose controls
        // cannot be used.
        auto *idle = new TcpClient;
        idle->initialize(simAddress(3), f.sim.port(3));
        idle->setLabel(QStringLiteral("IDLE"));
        ConnectionSettings settings = simSettings(3);
        f.window->newConnection(idle, &settings);
        OverviewWidget *idleRow = dialog->row(3);
        QCOMPARE(idleRow->label(), QStringLiteral("IDLE"));
        for (const char *name : {"enable1", "enable2", "parameterPushButton", "showCheckBox", "active1"})
            QVERIFY2(!child<QWidget>(idleRow, name)->isEnabled(), name);

        QSignalSpy params(dialog, &ConnectionOverviewDialog::openParamDialog);
        QTest::mouseClick(child(dialog->row(2), "parameterPushButton"), Qt::LeftButton);
        QCOMPARE(params, QList<QList<QVariant>>{{simAddress(2)}});

        QVERIFY(f.window->closedConnection(simAddress(1)));
        QTRY_COMPARE_WITH_TIMEOUT(screenLabels(dialog), QStringList({"SIM0", "SIM2", "IDLE"}), 5000);
        QCOMPARE(dialog->row(1)->name(), simAddress(2));
        for (int i = 3; i >= 0; --i)
            if (i != 1)
                QVERIFY(f.window->closedConnection(simAddress(i)));
        QTRY_COMPARE_WITH_TIMEOUT(dialog->list()->count(), 1, 5000);
        QCOMPARE(dialog->order(), QList<int>());
    }

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
        WindowFixture *fixture = shared.get([](WindowFixture &f) { return f.connect(2) && openOverview(f); });
        QVERIFY(fixture);
        WindowFixture &f = *fixture;
        ConnectionOverviewDialog *dialog = overviewOf(f);
        f.refuse(controller, refused ? QSet<QByteArray>{"SEA"} : QSet<QByteArray>());
        f.sim.clearCommandLog(0);
        f.sim.clearCommandLog(1);
        QPushButton *button = child(dialog->row(controller), stage == 1 ? "enable1" : "enable2");
        QCOMPARE(button->text(), QStringLiteral("OFF"));
        QTest::mouseClick(button, Qt::LeftButton);

        const QByteArray arguments = QByteArray(1, char(stage)) + ';';
        QCOMPARE(f.commands(controller, "SEA"), QList<QByteArray>{QByteArray("SEA") + arguments});
        QVERIFY(f.commands(1 - controller, "SEA").isEmpty());
        if (refused) {
            // The switch shows what the controller reports, through several
            // status polls.
            const int polls = f.commands(controller, "GSF").size();
            QTRY_VERIFY_WITH_TIMEOUT(f.commands(controller, "GSF").size() >= polls + 3, 5000);
            QVERIFY(button->text() == QStringLiteral("OFF") && !button->isChecked());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(button->text(), QStringLiteral("ON"), 5000);
        QVERIFY(button->isChecked() && button->palette().color(QPalette::Button) == QColor("lightgreen"));
        QCOMPARE(child(dialog->row(1 - controller), stage == 1 ? "enable1" : "enable2")->text(),
                 QStringLiteral("OFF"));

        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(f.commands(controller, "CEA"), QList<QByteArray>{QByteArray("CEA") + arguments});
        QTRY_COMPARE_WITH_TIMEOUT(button->text(), QStringLiteral("OFF"), 5000);
        QVERIFY(!button->isChecked() && button->palette().color(QPalette::Button) == QColor("lightcoral"));
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
        QCOMPARE(f.window->displayed(), QList<int>{0});
        QVERIFY(!f.window->controllerStatus().at(1).shown && !show->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(!f.sim.isStreaming(1), 5000);
        QCOMPARE((QList<int>{curveSize(f.window->timePlot(1), 2), curveSize(f.window->timePlot(2), 2), curveSize(f.window->positionPlot(1), 1)}),
                 (QList<int>{0, 0, 0}));
        // Controller 1 goes on being drawn, controller 2 does not.
        const int before = int(f.sim.counters(0).streamMessagesSent);
        QTRY_VERIFY_WITH_TIMEOUT(f.sim.counters(0).streamMessagesSent > before + 50, 5000);
        QCOMPARE(curveSize(f.window->positionPlot(1), 1), 0);

        QTest::mouseClick(show, Qt::LeftButton);
        QVERIFY(show->isChecked() && f.window->displayed() == QList<int>({0, 1}));
        QVERIFY(f.streaming(2, true));
        QTRY_VERIFY_WITH_TIMEOUT(curveSize(f.window->positionPlot(1), 1) > 0 && curveSize(f.window->intensityPlot(2), 1) > 0, 5000);
    }

    void coloursReachCurvesCaptionsAndSetup_data()
    {
        QTest::addColumn<int>("graph");
        QTest::newRow("x") << 0;
        QTest::newRow("y") << 1;
        QTest::newRow("intensity") << 2;
    }
    void coloursReachCurvesCaptionsAndSetup()
    {
        QFETCH(int, graph);
        // The row's colour button and a caption of the window in that colour.
        const char *const buttons[] = {"xColor", "yColor", "iColor"};
        const char *const captions[] = {"label_timeX_2", "label_timeY", "label_intensity_2"};
        WindowFixture *fixture = shared.get([](WindowFixture &f) { return f.connect(1) && openOverview(f); });
        QVERIFY(fixture);
        WindowFixture &f = *fixture;
        OverviewWidget *row = overviewOf(f)->row(0);
        QPushButton *colorButton = child(row, buttons[graph]);
        const QColor before = row->color(graph);
        QCOMPARE(colorButton->styleSheet(), QStringLiteral("background-color: ") + before.name());

        QTest::mouseClick(colorButton, Qt::LeftButton);
        auto *chooser = row->findChild<QColorDialog *>();
        QVERIFY(chooser && chooser->isVisible() && chooser->currentColor().rgb() == before.rgb());

        // A colour that is no colour changes nothing.
        emit chooser->colorSelected(QColor());
        QVERIFY(row->color(graph) == before && colorButton->styleSheet() == QStringLiteral("background-color: ") + before.name());

        const QColor chosen(18, 52, 86);
        chooser->setCurrentColor(chosen);
        chooser->accept();
        QVERIFY(row->color(graph) == chosen && colorButton->styleSheet() == QStringLiteral("background-color: #123456"));
        const ControllerStatus &status = f.window->controllerStatus().at(0);
        QCOMPARE(graph == 0 ? status.colorX : graph == 1 ? status.colorY : status.colorI, chosen);
        for (int s = 1; s <= 2; ++s)
            for (QColor colour : graph < 2 ? QList<QColor>{f.window->timePlot(s)->curveColor(graph)}
                                           : QList<QColor>{f.window->intensityPlot(s)->curveColor(0), f.window->positionPlot(s)->curveColor(0)})
                QCOMPARE(colour, chosen);
        QCOMPARE(f.widget<QLabel>(captions[graph])->styleSheet(), QStringLiteral("color: #123456"));
        QList<ConnectionSettings> records{simSettings(0)};
        QVERIFY(f.window->updateSettingsAndParameters(records));
        QCOMPARE(graph == 0 ? records[0].colorX : graph == 1 ? records[0].colorY : records[0].colorI, chosen);
    }

    // Drops one after another in one list: each row lands where it was
    // dropped, the header stays on top and cannot be moved or dropped on.
    void droppedRowTakesItsPlace()
    {
        struct Drop
        {
            int from, onto; // screen rows; onto -1: the header area
            bool lowerHalf;
            QStringList screen;
            QList<int> order;
        };
        const QList<Drop> drops{
            {1, 3, true, {"SIM1", "SIM2", "SIM0"}, {2, 0, 1}},  // first to last
            {2, 2, false, {"SIM1", "SIM2", "SIM0"}, {2, 0, 1}}, // onto itself
            {0, 2, true, {"SIM1", "SIM2", "SIM0"}, {2, 0, 1}},  // the header dragged
            {3, -1, false, {"SIM1", "SIM2", "SIM0"}, {2, 0, 1}}, // onto the header area
            {3, 1, false, {"SIM0", "SIM1", "SIM2"}, {0, 1, 2}}, // last to first
            {3, 1, false, {"SIM2", "SIM0", "SIM1"}, {1, 2, 0}},
        };
        WindowFixture f;
        QVERIFY(f.connect(3));
        ConnectionOverviewDialog *dialog = openOverview(f);
        ListWidget *list = dialog->list();
        QVERIFY(!(list->item(0)->flags() & Qt::ItemIsDragEnabled) && (list->item(1)->flags() & Qt::ItemIsDragEnabled));
        for (const Drop &drop : drops) {
            list->setCurrentRow(drop.from);
            QCOMPARE(list->currentRow(), drop.from);
            QPoint pos(list->viewport()->width() / 2, ListWidget::headerArea / 2);
            if (drop.onto >= 0) {
                const QRect rect = list->visualItemRect(list->item(drop.onto));
                pos.setY(drop.lowerHalf ? rect.bottom() - 2 : rect.top() + 2);
                QVERIFY(pos.y() > ListWidget::headerArea);
            }
            dropAt(list, pos);
            QCOMPARE(screenLabels(dialog), drop.screen);
            QCOMPARE(dialog->order(), drop.order);
            QCOMPARE(screenPlaces(dialog), drop.order);
            QVERIFY(rowAt(list, 0)->isHeader());
        }

        // Rows stay with their controllers: a new label reaches the row of
        // that controller wherever it is, and a removed controller takes
        // only its own row with it.
        f.window->changeLabel(simAddress(0), QStringLiteral("FIRST"));
        QTRY_COMPARE_WITH_TIMEOUT(rowAt(list, 2)->label(), QStringLiteral("FIRST"), 5000);
        QVERIFY(f.window->closedConnection(simAddress(1)));
        QTRY_COMPARE_WITH_TIMEOUT(dialog->rowCount(), 2, 5000);
        QCOMPARE(screenLabels(dialog), QStringList({"SIM2", "FIRST"}));
        QCOMPARE(dialog->order(), screenPlaces(dialog));
    }

    void draggedOrderSurvivesSaveAndLoad()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("setup.xml"));
        QList<ConnectionSettings> records;
        for (int i = 0; i < 3; ++i) {
            ConnectionSettings record = simSettings(i);
            setFixedText(record.label, QStringLiteral("SIM%1").arg(i));
            setFixedText(record.id, QStringLiteral("ORX-SIMULATED-UNIT-0000%1-V31").arg(i));
            record.portOrBaud = 2000 + i;
            records << record;
        }
        WindowFixture f;
        QVERIFY(f.start(3));
        for (int i = 0; i < 3; ++i)
            QVERIFY(f.add(i, records.at(i), false));
        ConnectionOverviewDialog *dialog = openOverview(f);
        ListWidget *list = dialog->list();
        list->setCurrentRow(1);
        const QRect last = list->visualItemRect(list->item(3));
        dropAt(list, QPoint(last.center().x(), last.bottom() - 2));
        QCOMPARE(screenLabels(dialog), QStringList({"SIM1", "SIM2", "SIM0"}));

        QVERIFY(f.window->updateSettingsAndParameters(records));
        QCOMPARE((QList<int>{records.at(0).position, records.at(1).position, records.at(2).position}), (QList<int>{2, 0, 1}));
        Settings saving;
        QVERIFY(saving.setConnections(inSystemOrder(records)) && saving.saveConnectionFile(path) && saving.saveDetectorFile(path));

        // A new window gets the controllers in the order of the file, as
        // loading a setup hands them over.
        f.window.reset();
        Settings loading;
        QList<ConnectionSettings> loaded;
        QVERIFY(loading.loadFile(path) && loading.connections(loaded));
        f.openWindow();
        for (const ConnectionSettings &record : loaded) {
            const int i = fixedText(record.name).section(QLatin1Char('.'), 3).toInt() - 1;
            QVERIFY(f.add(i, record, false));
        }
        QCOMPARE(screenLabels(overviewOf(f)), QStringList({"SIM1", "SIM2", "SIM0"}));
        QCOMPARE(overviewOf(f)->order(), QList<int>({0, 1, 2}));
    }
};

QTEST_MAIN(OverviewTest)
#include "tst_overview.moc"
