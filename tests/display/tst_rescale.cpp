// Axis rescaling in the main window: the dialogs opened by clicking a plot
// axis, the time axis setting the sweep width.

#include "WindowFixture.h"

#include "display/CurveData.h"
#include "display/RescaleDialog.h"
#include "display/RescaleTimeAxisDialog.h"

#include <qwt_scale_div.h>
#include <qwt_scale_widget.h>

#include <QCheckBox>

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

void clickOk(QWidget *dialog, bool bothStages = false)
{
    child<QCheckBox>(dialog, "checkBoxBothStages")->setChecked(bothStages);
    QTest::mouseClick(child(dialog, "okButton"), Qt::LeftButton);
}

// Largest time of the stage's x trace of controller 0 seen while the display
// runs for ms milliseconds, and whether the trace was emptied by a new sweep.
QPair<double, bool> watchSweep(GenericPlot *timePlot, int ms)
{
    QPair<double, bool> seen(0.0, false);
    int lastSize = 0;
    QElapsedTimer clock;
    for (clock.start(); clock.elapsed() < ms; QTest::qWait(20)) {
        const int size = int(timePlot->curveData(0)->size());
        seen.second = seen.second || size < lastSize;
        lastSize = size;
        if (size > 0)
            seen.first = qMax(seen.first, timePlot->curveData(0)->sample(size - 1).x());
    }
    return seen;
}

} // namespace

class RescaleTest : public QObject
{
    Q_OBJECT

private slots:
    // A click on an axis opens its dialog; the limits reach that axis alone,
    // and the time axis sets the sweep width of both stages.
    void timeAxisSetsTheSweepWidth()
    {
        WindowFixture f;
        QVERIFY(f.connect(1));
        QTest::mouseClick(f.window->intensityPlot(2)->axisWidget(QwtPlot::yLeft), Qt::LeftButton);
        auto *values = topLevel<RescaleDialog>("RescaleDialog");
        QVERIFY(values);
        QVERIFY(values->isVisible());
        values->setUpper(3.0);
        values->setLower(1.0);
        clickOk(values);
        QCOMPARE(bounds(f.window->intensityPlot(2), QwtPlot::yLeft), qMakePair(1.0, 3.0));
        QVERIFY(bounds(f.window->intensityPlot(1), QwtPlot::yLeft) != qMakePair(1.0, 3.0));

        QTest::mouseClick(f.window->intensityPlot(1)->axisWidget(QwtPlot::xBottom), Qt::LeftButton);
        auto *dialog = topLevel<RescaleTimeAxisDialog>("RescaleTimeAxisDlg");
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        dialog->setUpper(1);
        clickOk(dialog, true);
        const QPair<double, double> second(0.0, 1.0);
        for (int s = 1; s <= 2; ++s) {
            QVERIFY(bounds(f.window->timePlot(s), QwtPlot::xTop) == second);
            QVERIFY(bounds(f.window->intensityPlot(s), QwtPlot::xBottom) == second);
        }

        // Each stage's sweep now starts again after a second.
        QVERIFY(f.acquire(1, 100));
        QTRY_VERIFY_WITH_TIMEOUT(curveSize(f.window->timePlot(1), 0) > 0, 5000);
        for (int s = 1; s <= 2; ++s) {
            const QPair<double, bool> sweep = watchSweep(f.window->timePlot(s), 2500);
            QVERIFY2(sweep.first <= 1.05, qPrintable(QString::number(sweep.first)));
            QVERIFY2(sweep.second, qPrintable(QString::number(sweep.first)));
        }
    }
};

QTEST_MAIN(RescaleTest)
#include "tst_rescale.moc"
