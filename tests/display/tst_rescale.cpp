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

// Replaces the text of a field by typing, as the user does.
void retype(QWidget *field, const QString &text)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

void clickOk(QWidget *dialog, bool bothStages = false)
{
    child<QCheckBox>(dialog, "checkBoxBothStages")->setChecked(bothStages);
    QTest::mouseClick(child(dialog, "okButton"), Qt::LeftButton);
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

// Typed limits; whether they are applied, and the limits then.
const struct ValueRow { const char *name, *upperText, *lowerText; bool applied; double lower, upper; } valueRows[] = {
    {"in order", "3.00", "-1.50", true, -1.5, 3.0},   {"swapped", "1.00", "3.00", true, 1.0, 3.0},
    {"equal", "2.00", "2.00", true, 2.0, 2.001},      {"upper empty", "", "1.00", false, 0, 0},
    {"lower only a sign", "1.00", "-", false, 0, 0}};

// The axis clicked, then the dialog's title (none: no dialog) and shown limits.
const struct AxisRow { const char *name, *plot; int stage, axis; const char *title; double lower, upper; } axisRows[] = {
    {"stage 1 position", "time", 1, QwtPlot::yLeft, "Stage 1: Rescale x/y axis", -5, 5},
    {"stage 2 position", "time", 2, QwtPlot::yLeft, "Stage 2: Rescale x/y axis", -5, 5},
    {"stage 2 intensity", "intensity", 2, QwtPlot::yLeft, "Stage 2: Rescale i axis", 0, 8},
    {"stage 1 time, top", "time", 1, QwtPlot::xTop, "Stage 1:  Rescale Time Axis", 0, 10},
    {"stage 2 time, bottom", "intensity", 2, QwtPlot::xBottom, "Stage 2:  Rescale Time Axis", 0, 10},
    {"position plot", "position", 1, QwtPlot::yLeft, "", 0, 0}};

// The axis rescaled, for both stages or not, in which units; whether the
// other stage's axis follows.
const struct PairRow { const char *name, *plot; int stage; bool pair, stage2InLength, otherChanged; } pairRows[] = {
    {"stage 1 position", "time", 1, false, false, false},
    {"stage 2 position, both, same unit", "time", 2, true, false, true},
    {"stage 1 intensity", "intensity", 1, false, false, false},
    {"stage 1 position, both, other unit", "time", 1, true, true, false},
    {"stage 2 intensity, both, other unit", "intensity", 2, true, true, true}};

GenericPlot *plotOf(MainWindow *window, const QString &plot, int stage)
{
    return plot == QLatin1String("time") ? window->timePlot(stage)
           : plot == QLatin1String("intensity") ? window->intensityPlot(stage) : window->positionPlot(stage);
}
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

    void valueLimitsAreOrderedAndKeptApart_data() { addRows(valueRows); }
    void valueLimitsAreOrderedAndKeptApart()
    {
        QFETCH(int, row);
        const ValueRow &r = valueRows[row];
        RescaleDialog dialog;
        dialog.setAxis(2);
        dialog.setLimits(5.0, -5.0, 5.0, -5.0);
        dialog.show();
        QSignalSpy rescaled(&dialog, &RescaleDialog::axisRescaled);
        auto *upperBox = child<QDoubleSpinBox>(&dialog, "doubleSpinBoxUpper");
        auto *lowerBox = child<QDoubleSpinBox>(&dialog, "doubleSpinBoxLower");
        retype(upperBox, r.upperText);
        retype(lowerBox, r.lowerText);
        clickOk(&dialog);
        QCOMPARE(rescaled.count(), r.applied ? 1 : 0);
        QCOMPARE(dialog.isVisible(), !r.applied);
        if (!r.applied) {
            QDoubleSpinBox *bad = *r.upperText ? lowerBox : upperBox;
            QCOMPARE(bad->styleSheet(), invalidMark);
            QCOMPARE((bad == upperBox ? lowerBox : upperBox)->styleSheet(), QString());
            // Editing the field takes the mark away; a number is then applied.
            QTest::keyClicks(bad, QStringLiteral("4"));
            QCOMPARE(bad->styleSheet(), QString());
            clickOk(&dialog);
            QCOMPARE(rescaled.count(), 1);
            return;
        }
        const QList<QVariant> args = rescaled.first();
        QCOMPARE(args.at(0).toInt(), 2);
        QCOMPARE(args.at(1).toDouble(), r.lower);
        QVERIFY(qAbs(args.at(2).toDouble() - r.upper) < 1e-9);
        QCOMPARE(args.at(3).toBool(), false);
    }

    void limitLabelsCarryTheStageUnit()
    {
        // Axis, unit kinds of stage 1 and 2 (they may change while the dialog
        // is open), the unit shown.
        const struct { int axis, kind1, kind2; const char *unit; } rows[] = {
            {1, 0, 2, "V"}, {2, 1, 2, "mm"}, {5, 1, 1, "V"} /* intensity in a stage in micrometres */};
        for (const auto &r : rows) {
            RescaleDialog dialog;
            dialog.setAxis(r.axis);
            dialog.setUnitKind(r.kind1, 1);
            dialog.setUnitKind(r.kind2, 2);
            QCOMPARE(child<QLabel>(&dialog, "labelUpper")->text() + child<QLabel>(&dialog, "labelLower")->text(),
                     QStringLiteral("Upper limit [%1]Lower limit [%1]").arg(r.unit));
        }
    }

    void timeLimitsInHoursMinutesSeconds()
    {
        const struct { const char *lowerText, *upperText; int lower, upper; } rows[] = {
            {"000:00:02", "001:01:40", 2, 3700}, {"000:00:20", "000:00:10", 20, 21} /* upper below lower */,
            {"000:00:05", "000:00:05", 5, 6},    {"000:00:00", "000:90:00", 0, 5400}, {"000:00:00", "", 0, 1}};
        for (const auto &r : rows) {
            RescaleTimeAxisDlg dialog;
            dialog.setAxis(4);
            dialog.show();
            QSignalSpy rescaled(&dialog, &RescaleTimeAxisDlg::axisRescaled);
            auto *upperEdit = child<QLineEdit>(&dialog, "lineEditUpper");
            retype(child<QLineEdit>(&dialog, "lineEditLower"), QString(r.lowerText).remove(':'));
            retype(upperEdit, QString(r.upperText).remove(':'));
            clickOk(&dialog, true);
            QCOMPARE(rescaled.count(), 1);
            QCOMPARE(rescaled.first(), QList<QVariant>({4, r.lower, r.upper, true}));
            QVERIFY(!dialog.isVisible());
            // Limits set from the plot show in the same form.
            dialog.setUpper(r.upper);
            QCOMPARE(RescaleTimeAxisDlg::parseSeconds(upperEdit->text()), r.upper);
        }
    }

    void clickedAxisOpensItsDialog_data() { addRows(axisRows); }
    void clickedAxisOpensItsDialog()
    {
        QFETCH(int, row);
        const AxisRow &r = axisRows[row];
        MainWindow window;
        window.show();
        QTest::mouseClick(plotOf(&window, r.plot, r.stage)->axisWidget(r.axis), Qt::LeftButton);
        auto *values = topLevel<RescaleDialog>("RescaleDialog");
        auto *times = topLevel<RescaleTimeAxisDlg>("RescaleTimeAxisDlg");
        QVERIFY(values && times);
        QVERIFY(values->windowFlags() & Qt::Tool);
        const bool timeAxis = r.axis != QwtPlot::yLeft;
        QCOMPARE(values->isVisible(), *r.title && !timeAxis);
        QCOMPARE(times->isVisible(), *r.title && timeAxis);
        if (!*r.title)
            return;
        QCOMPARE((timeAxis ? static_cast<QDialog *>(times) : values)->windowTitle(), QString(r.title));
        if (timeAxis) {
            QCOMPARE(times->axis(), 2 + r.stage);
            QCOMPARE(child<QLineEdit>(times, "lineEditLower")->text() + child<QLineEdit>(times, "lineEditUpper")->text(),
                     RescaleTimeAxisDlg::formatSeconds(int(r.lower)) + RescaleTimeAxisDlg::formatSeconds(int(r.upper)));
        } else {
            QCOMPARE(values->axis(), r.stage + (QString(r.plot) == QLatin1String("time") ? 0 : 4));
            auto *upperBox = child<QDoubleSpinBox>(values, "doubleSpinBoxUpper");
            QCOMPARE(child<QDoubleSpinBox>(values, "doubleSpinBoxLower")->value(), r.lower);
            QCOMPARE((QList<double>{upperBox->value(), upperBox->maximum(), upperBox->minimum()}),
                     (QList<double>{r.upper, r.upper, r.lower}));
        }
    }

    void rescaleReachesItsAxesAndThePair_data() { addRows(pairRows); }
    void rescaleReachesItsAxesAndThePair()
    {
        QFETCH(int, row);
        const PairRow &r = pairRows[row];
        // Rows with the same units share a window: each sets a range no
        // row before it set.
        const auto setUp = [&r](WindowFixture &f) {
            ConnectionSettings settings = simSettings(0);
            if (r.stage2InLength) {
                settings.model[1] = DetectorPSD;
                settings.calculation[1] = 1;
            }
            return f.start(1) && f.add(0, settings);
        };
        WindowFixture *fixture = shared.get(setUp, r.stage2InLength ? "length" : "volts");
        QVERIFY(fixture);
        MainWindow *window = fixture->window.get();
        const double upper = 1.5 + 0.5 * ++rows; // within every axis's limits
        QTRY_COMPARE_WITH_TIMEOUT(fixture->widget<QLabel>("label_positionUnit_2")->text(),
                                  r.stage2InLength ? QStringLiteral(" [mm]") : QStringLiteral(" [V]"), 5000);
        GenericPlot *other = plotOf(window, r.plot, 3 - r.stage);
        const QPair<double, double> otherBefore = bounds(other, QwtPlot::yLeft);

        QTest::mouseClick(plotOf(window, r.plot, r.stage)->axisWidget(QwtPlot::yLeft), Qt::LeftButton);
        auto *dialog = topLevel<RescaleDialog>("RescaleDialog");
        QVERIFY(dialog->isVisible());
        dialog->setUpper(1.0);
        dialog->setLower(upper);
        clickOk(dialog, r.pair);

        const QPair<double, double> wanted(1.0, upper);
        QCOMPARE(bounds(plotOf(window, r.plot, r.stage), QwtPlot::yLeft), wanted);
        QCOMPARE(bounds(other, QwtPlot::yLeft), r.otherChanged ? wanted : otherBefore);
        // The other kind of value axis is left alone.
        QVERIFY(bounds(plotOf(window, QString(r.plot) == QLatin1String("time") ? "intensity" : "time", r.stage), QwtPlot::yLeft) != wanted);
    }

    void timeAxisSetsTheSweepWidth()
    {
        WindowFixture f;
        QVERIFY(f.connect(1));
        QTest::mouseClick(f.window->intensityPlot(1)->axisWidget(QwtPlot::xBottom), Qt::LeftButton);
        auto *dialog = topLevel<RescaleTimeAxisDlg>("RescaleTimeAxisDlg");
        QVERIFY(dialog->isVisible());
        dialog->setUpper(1);
        clickOk(dialog, true);
        const QPair<double, double> second(0.0, 1.0);
        for (int s = 1; s <= 2; ++s)
            for (auto [plot, axis] : {std::pair{f.window->timePlot(s), QwtPlot::xTop}, {f.window->timePlot(s), QwtPlot::xBottom},
                                      {f.window->intensityPlot(s), QwtPlot::xBottom}})
                QCOMPARE(bounds(plot, axis), second);

        // Each stage's sweep now starts again after a second.
        QVERIFY(f.acquire(1, 100));
        QTRY_VERIFY_WITH_TIMEOUT(f.window->timePlot(1)->curveData(0)->size() > 0, 5000);
        for (int s = 1; s <= 2; ++s) {
            const QPair<double, bool> sweep = watchSweep(f.window->timePlot(s), 2500);
            QVERIFY2(sweep.first <= 1.05 && sweep.second, qPrintable(QString::number(sweep.first)));
        }

        // Resetting the zoom of stage 1 brings its 10 s sweep back; stage 2
        // keeps its own.
        QTest::mouseClick(f.widget("pushButton_resetZoomTime"), Qt::LeftButton);
        QCOMPARE(bounds(f.window->timePlot(1), QwtPlot::xTop), qMakePair(0.0, 10.0));
        QCOMPARE(bounds(f.window->intensityPlot(1), QwtPlot::xBottom), qMakePair(0.0, 10.0));
        QCOMPARE(bounds(f.window->timePlot(2), QwtPlot::xTop), second);
        const QPair<double, bool> longer = watchSweep(f.window->timePlot(1), 2500);
        QVERIFY2(longer.first > 1.5, qPrintable(QString::number(longer.first)));
    }
};

QTEST_MAIN(RescaleTest)
#include "tst_rescale.moc"
