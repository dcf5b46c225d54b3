// Axis rescaling: the two dialogs on their own (limits, units, refused
// input) and in the main window, opened by clicking a plot axis, applied to
// one or both stages, and the time axis setting the sweep width.

#include "WindowFixture.h"

#include "display/CurveData.h"
#include "display/RescaleDialog.h"
#include "display/RescaleTimeAxisDlg.h"

#include <qwt_scale_div.h>
#include <qwt_scale_widget.h>

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>

namespace {
template<typename T>
T *topLevel(const char *name)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name))
            return qobject_cast<T *>(w);
    return nullptr;
}

QPair<double, double> bounds(GenericPlot *plot, int axis)
{
    const QwtScaleDiv &div = plot->axisScaleDiv(axis);
    return {div.lowerBound(), div.upperBound()};
}

// Largest time of the stage's x trace of controller 0 seen while the display
// runs for ms milliseconds, and whether the trace was emptied by a new sweep.
QPair<double, bool> watchSweep(GenericPlot *timePlot, int ms)
{
    double largest = 0.0;
    bool restarted = false;
    int lastSize = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QTest::qWait(20);
        const CurveData *data = timePlot->curveData(0);
        const int size = int(data->size());
        restarted = restarted || size < lastSize;
        lastSize = size;
        if (size > 0)
            largest = qMax(largest, data->sample(size - 1).x());
    }
    return {largest, restarted};
}

const QString invalidMark = QStringLiteral("border: 1px solid red");
} // namespace

class RescaleTest : public QObject
{
    Q_OBJECT

    RowShared<WindowFixture> shared;
    int rows = 0;

private slots:
    void init() { shared.drop(); }
    void cleanup() { shared.dropIfFailed(); }
    void cleanupTestCase() { shared.drop(); }

    void valueLimitsAreOrderedAndKeptApart_data()
    {
        QTest::addColumn<QString>("upperText");
        QTest::addColumn<QString>("lowerText");
        QTest::addColumn<bool>("applied");
        QTest::addColumn<double>("lower");
        QTest::addColumn<double>("upper");
        QTest::newRow("in order") << "3.00" << "-1.50" << true << -1.5 << 3.0;
        QTest::newRow("swapped") << "1.00" << "3.00" << true << 1.0 << 3.0;
        QTest::newRow("equal") << "2.00" << "2.00" << true << 2.0 << 2.001;
        QTest::newRow("upper empty") << "" << "1.00" << false << 0.0 << 0.0;
        QTest::newRow("lower only a sign") << "1.00" << "-" << false << 0.0 << 0.0;
    }
    void valueLimitsAreOrderedAndKeptApart()
    {
        QFETCH(QString, upperText);
        QFETCH(QString, lowerText);
        QFETCH(bool, applied);
        QFETCH(double, lower);
        QFETCH(double, upper);
        RescaleDialog dialog;
        dialog.setAxis(2);
        dialog.setLimits(5.0, -5.0, 5.0, -5.0);
        dialog.show();
        QSignalSpy rescaled(&dialog, &RescaleDialog::axisRescaled);
        auto *upperBox = dialog.findChild<QDoubleSpinBox *>(QStringLiteral("doubleSpinBoxUpper"));
        auto *lowerBox = dialog.findChild<QDoubleSpinBox *>(QStringLiteral("doubleSpinBoxLower"));
        for (auto [box, text] : {std::pair{upperBox, upperText}, std::pair{lowerBox, lowerText}}) {
            box->setFocus();
            QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(box, Qt::Key_Backspace);
            QTest::keyClicks(box, text);
        }
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("okButton")), Qt::LeftButton);
        if (!applied) {
            QCOMPARE(rescaled.count(), 0);
            QVERIFY(dialog.isVisible());
            QDoubleSpinBox *bad = upperText.isEmpty() ? upperBox : lowerBox;
            QDoubleSpinBox *good = upperText.isEmpty() ? lowerBox : upperBox;
            QCOMPARE(bad->styleSheet(), invalidMark);
            QCOMPARE(good->styleSheet(), QString());
            // Editing the field takes the mark away; a number is then applied.
            QTest::keyClicks(bad, QStringLiteral("4"));
            QCOMPARE(bad->styleSheet(), QString());
            QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("okButton")), Qt::LeftButton);
            QCOMPARE(rescaled.count(), 1);
            return;
        }
        QCOMPARE(rescaled.count(), 1);
        const QList<QVariant> args = rescaled.first();
        QCOMPARE(args.at(0).toInt(), 2);
        QCOMPARE(args.at(1).toDouble(), lower);
        QVERIFY(qAbs(args.at(2).toDouble() - upper) < 1e-9);
        QCOMPARE(args.at(3).toBool(), false);
        QVERIFY(!dialog.isVisible());
    }

    void limitLabelsCarryTheStageUnit_data()
    {
        QTest::addColumn<int>("axis");
        QTest::addColumn<int>("kind1");
        QTest::addColumn<int>("kind2");
        QTest::addColumn<QString>("unit");
        QTest::newRow("stage 1 in volts") << 1 << 0 << 2 << "V";
        QTest::newRow("stage 2 in millimetres") << 2 << 1 << 2 << "mm";
        QTest::newRow("intensity of a stage in micrometres") << 5 << 1 << 1 << "V";
    }
    void limitLabelsCarryTheStageUnit()
    {
        QFETCH(int, axis);
        QFETCH(int, kind1);
        QFETCH(int, kind2);
        QFETCH(QString, unit);
        RescaleDialog dialog;
        dialog.setAxis(axis);
        // The units may change while the dialog is open.
        dialog.setUnitKind(kind1, 1);
        dialog.setUnitKind(kind2, 2);
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("labelUpper"))->text(),
                 QStringLiteral("Upper limit [%1]").arg(unit));
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("labelLower"))->text(),
                 QStringLiteral("Lower limit [%1]").arg(unit));
    }

    void timeLimitsInHoursMinutesSeconds_data()
    {
        QTest::addColumn<QString>("lowerText");
        QTest::addColumn<QString>("upperText");
        QTest::addColumn<int>("lower");
        QTest::addColumn<int>("upper");
        QTest::newRow("in order") << "000:00:02" << "001:01:40" << 2 << 3700;
        QTest::newRow("upper below lower") << "000:00:20" << "000:00:10" << 20 << 21;
        QTest::newRow("equal") << "000:00:05" << "000:00:05" << 5 << 6;
        QTest::newRow("90 minutes") << "000:00:00" << "000:90:00" << 0 << 5400;
        QTest::newRow("blank upper") << "000:00:00" << "" << 0 << 1;
    }
    void timeLimitsInHoursMinutesSeconds()
    {
        QFETCH(QString, lowerText);
        QFETCH(QString, upperText);
        QFETCH(int, lower);
        QFETCH(int, upper);
        RescaleTimeAxisDlg dialog;
        dialog.setAxis(4);
        dialog.show();
        QSignalSpy rescaled(&dialog, &RescaleTimeAxisDlg::axisRescaled);
        auto *lowerEdit = dialog.findChild<QLineEdit *>(QStringLiteral("lineEditLower"));
        auto *upperEdit = dialog.findChild<QLineEdit *>(QStringLiteral("lineEditUpper"));
        QCOMPARE(lowerEdit->text(), QStringLiteral("000:00:00"));
        QCOMPARE(upperEdit->text(), QStringLiteral("000:00:10"));
        for (auto [edit, text] : {std::pair{lowerEdit, lowerText}, std::pair{upperEdit, upperText}}) {
            edit->setFocus();
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClicks(edit, QString(text).remove(QLatin1Char(':')));
        }
        dialog.findChild<QCheckBox *>(QStringLiteral("checkBoxBothStages"))->setChecked(true);
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("okButton")), Qt::LeftButton);
        QCOMPARE(rescaled.count(), 1);
        QCOMPARE(rescaled.first(), QList<QVariant>({4, lower, upper, true}));
        QVERIFY(!dialog.isVisible());
        // Limits set from the plot show in the same form.
        dialog.setUpper(upper);
        QCOMPARE(RescaleTimeAxisDlg::parseSeconds(upperEdit->text()), upper);
    }

    void clickedAxisOpensItsDialog_data()
    {
        QTest::addColumn<QString>("plot");
        QTest::addColumn<int>("stage");
        QTest::addColumn<int>("axis");
        QTest::addColumn<QString>("title");
        QTest::addColumn<double>("lower");
        QTest::addColumn<double>("upper");
        QTest::newRow("stage 1 position") << "time" << 1 << int(QwtPlot::yLeft) << "Stage 1: Rescale x/y axis" << -5.0 << 5.0;
        QTest::newRow("stage 2 position") << "time" << 2 << int(QwtPlot::yLeft) << "Stage 2: Rescale x/y axis" << -5.0 << 5.0;
        QTest::newRow("stage 2 intensity") << "intensity" << 2 << int(QwtPlot::yLeft) << "Stage 2: Rescale i axis" << 0.0 << 8.0;
        QTest::newRow("stage 1 time, top") << "time" << 1 << int(QwtPlot::xTop) << "Stage 1:  Rescale Time Axis" << 0.0 << 10.0;
        QTest::newRow("stage 2 time, bottom") << "intensity" << 2 << int(QwtPlot::xBottom) << "Stage 2:  Rescale Time Axis" << 0.0 << 10.0;
        QTest::newRow("position plot") << "position" << 1 << int(QwtPlot::yLeft) << "" << 0.0 << 0.0;
    }
    void clickedAxisOpensItsDialog()
    {
        QFETCH(QString, plot);
        QFETCH(int, stage);
        QFETCH(int, axis);
        QFETCH(QString, title);
        QFETCH(double, lower);
        QFETCH(double, upper);
        MainWindow window;
        window.show();
        GenericPlot *target = plot == QLatin1String("time") ? window.timePlot(stage)
                              : plot == QLatin1String("intensity") ? window.intensityPlot(stage)
                                                                   : window.positionPlot(stage);
        QTest::mouseClick(target->axisWidget(axis), Qt::LeftButton);
        auto *values = topLevel<RescaleDialog>("RescaleDialog");
        auto *times = topLevel<RescaleTimeAxisDlg>("RescaleTimeAxisDlg");
        QVERIFY(values && times);
        QVERIFY(values->windowFlags() & Qt::Tool);
        if (title.isEmpty()) {
            QVERIFY(!values->isVisible() && !times->isVisible());
            return;
        }
        const bool timeAxis = axis != QwtPlot::yLeft;
        QDialog *shown = timeAxis ? static_cast<QDialog *>(times) : values;
        QVERIFY(shown->isVisible());
        QVERIFY(!(timeAxis ? static_cast<QDialog *>(values) : times)->isVisible());
        QCOMPARE(shown->windowTitle(), title);
        if (timeAxis) {
            QCOMPARE(times->axis(), 2 + stage);
            QCOMPARE(times->findChild<QLineEdit *>(QStringLiteral("lineEditLower"))->text(),
                     RescaleTimeAxisDlg::formatSeconds(int(lower)));
            QCOMPARE(times->findChild<QLineEdit *>(QStringLiteral("lineEditUpper"))->text(),
                     RescaleTimeAxisDlg::formatSeconds(int(upper)));
        } else {
            QCOMPARE(values->axis(), stage + (plot == QLatin1String("time") ? 0 : 4));
            auto *upperBox = values->findChild<QDoubleSpinBox *>(QStringLiteral("doubleSpinBoxUpper"));
            QCOMPARE(values->findChild<QDoubleSpinBox *>(QStringLiteral("doubleSpinBoxLower"))->value(), lower);
            QCOMPARE(upperBox->value(), upper);
            QCOMPARE(upperBox->maximum(), upper);
            QCOMPARE(upperBox->minimum(), lower);
        }
    }

    void rescaleReachesItsAxesAndThePair_data()
    {
        QTest::addColumn<QString>("plot");
        QTest::addColumn<int>("stage");
        QTest::addColumn<bool>("pair");
        QTest::addColumn<bool>("stage2InLength");
        QTest::addColumn<bool>("otherChanged");
        QTest::newRow("stage 1 position") << "time" << 1 << false << false << false;
        QTest::newRow("stage 2 position, both, same unit") << "time" << 2 << true << false << true;
        QTest::newRow("stage 1 intensity") << "intensity" << 1 << false << false << false;
        QTest::newRow("stage 1 position, both, other unit") << "time" << 1 << true << true << false;
        QTest::newRow("stage 2 intensity, both, other unit") << "intensity" << 2 << true << true << true;
    }
    void rescaleReachesItsAxesAndThePair()
    {
        QFETCH(QString, plot);
        QFETCH(int, stage);
        QFETCH(bool, pair);
        QFETCH(bool, stage2InLength);
        QFETCH(bool, otherChanged);
        // Rows with the same units share a window: each sets a range no
        // row before it set.
        const auto setUp = [stage2InLength](WindowFixture &f) {
            ConnectionSettings settings = simSettings(0);
            if (stage2InLength) {
                settings.model[1] = DetectorPSD;
                settings.calculation[1] = 1;
            }
            return f.start(1) && f.add(0, settings);
        };
        WindowFixture *fixture = shared.get(setUp, stage2InLength ? "length" : "volts");
        QVERIFY(fixture);
        WindowFixture &f = *fixture;
        const double upper = 1.5 + 0.5 * ++rows; // within every axis's limits
        QLabel *unit2 = f.widget<QLabel>("label_positionUnit_2");
        QTRY_COMPARE_WITH_TIMEOUT(unit2->text(), stage2InLength ? QStringLiteral(" [mm]") : QStringLiteral(" [V]"), 5000);
        auto plotOf = [&](int s) {
            return plot == QLatin1String("time") ? f.window->timePlot(s) : f.window->intensityPlot(s);
        };
        const int other = 3 - stage;
        const QPair<double, double> otherBefore = bounds(plotOf(other), QwtPlot::yLeft);

        QTest::mouseClick(plotOf(stage)->axisWidget(QwtPlot::yLeft), Qt::LeftButton);
        auto *dialog = topLevel<RescaleDialog>("RescaleDialog");
        QVERIFY(dialog->isVisible());
        dialog->setUpper(1.0);
        dialog->setLower(upper);
        dialog->findChild<QCheckBox *>(QStringLiteral("checkBoxBothStages"))->setChecked(pair);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("okButton")), Qt::LeftButton);

        const QPair<double, double> wanted(1.0, upper);
        QCOMPARE(bounds(plotOf(stage), QwtPlot::yLeft), wanted);
        QCOMPARE(bounds(plotOf(other), QwtPlot::yLeft), otherChanged ? wanted : otherBefore);
        // The other kind of value axis is left alone.
        GenericPlot *otherKind = plot == QLatin1String("time") ? f.window->intensityPlot(stage) : f.window->timePlot(stage);
        QVERIFY(bounds(otherKind, QwtPlot::yLeft) != wanted);
    }

    void timeAxisSetsTheSweepWidth()
    {
        WindowFixture f;
        QVERIFY(f.connect(1));
        QTest::mouseClick(f.window->intensityPlot(1)->axisWidget(QwtPlot::xBottom), Qt::LeftButton);
        auto *dialog = topLevel<RescaleTimeAxisDlg>("RescaleTimeAxisDlg");
        QVERIFY(dialog->isVisible());
        dialog->setUpper(1);
        dialog->findChild<QCheckBox *>(QStringLiteral("checkBoxBothStages"))->setChecked(true);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("okButton")), Qt::LeftButton);
        const QPair<double, double> second(0.0, 1.0);
        for (int s = 1; s <= 2; ++s) {
            QCOMPARE(bounds(f.window->timePlot(s), QwtPlot::xTop), second);
            QCOMPARE(bounds(f.window->timePlot(s), QwtPlot::xBottom), second);
            QCOMPARE(bounds(f.window->intensityPlot(s), QwtPlot::xBottom), second);
        }

        // Each stage's sweep now starts again after a second.
        f.counter("counterSamplingRate")->setValue(100);
        f.startAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(f.window->timePlot(1)->curveData(0)->size() > 0, 5000);
        for (int s = 1; s <= 2; ++s) {
            const QPair<double, bool> sweep = watchSweep(f.window->timePlot(s), 2500);
            QVERIFY2(sweep.first <= 1.05, qPrintable(QString::number(sweep.first)));
            QVERIFY(sweep.second);
        }

        // Resetting the zoom of stage 1 brings its 10 s sweep back; stage 2
        // keeps its own.
        QTest::mouseClick(f.widget<QPushButton>("pushButton_resetZoomTime"), Qt::LeftButton);
        QCOMPARE(bounds(f.window->timePlot(1), QwtPlot::xTop), qMakePair(0.0, 10.0));
        QCOMPARE(bounds(f.window->intensityPlot(1), QwtPlot::xBottom), qMakePair(0.0, 10.0));
        QCOMPARE(bounds(f.window->timePlot(2), QwtPlot::xTop), second);
        const QPair<double, bool> longer = watchSweep(f.window->timePlot(1), 2500);
        QVERIFY2(longer.first > 1.5, qPrintable(QString::number(longer.first)));
    }
};

QTEST_MAIN(RescaleTest)
#include "tst_rescale.moc"
