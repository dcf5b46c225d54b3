#include "display/ColorScalesFrame.h"
#include "display/CurveData.h"
#include "display/GenericPlot.h"
#include "display/PlotCurve.h"
#include "display/PlotConfigurator.h"
#include "display/ScrollBar.h"
#include "display/ThermoSlider.h"
#include "display/Zoomer.h"

#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_shapeitem.h>
#include <qwt_scale_div.h>
#include <qwt_scale_draw.h>
#include <qwt_scale_widget.h>
#include <qwt_symbol.h>

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

class TestPlots : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<Qt::Orientation>(); }
    void trailAndAccumulation();
    void clearOneOrAll_data();
    void clearOneOrAll();
    void curveBounds();
    void symbolTakesCurrentColour();
    void rangeZoomAndCrossHairs();
    void scrollBarMapping_data();
    void scrollBarMapping();
    void scrollBarMovesZoomRect();
    void configuredPlotKinds();
    void renderedPointsAppearOnlyWherePlotted();
    void rangeBarAndColourScale();
    void stampedSymbolsMatchQwtDrawing_data();
    void stampedSymbolsMatchQwtDrawing();
};

namespace {
QList<QPointF> pointsOf(const IncrementalPlot& plot, int i)
{
    QList<QPointF> points;
    const CurveData* data = plot.curveData(i);
    for (size_t k = 0; k < data->size(); ++k)
        points << data->sample(k);
    return points;
}

int itemsTitled(const QwtPlot& plot, const QString& title)
{
    int count = 0;
    for (QwtPlotItem* item : plot.itemList())
        count += item->title().text() == title ? 1 : 0;
    return count;
}

void checkAxes(const QwtPlot& plot, double min, double max)
{
    for (int axis = 0; axis < QwtPlot::axisCnt; ++axis) {
        QCOMPARE(plot.axisScaleDiv(axis).lowerBound(), min);
        QCOMPARE(plot.axisScaleDiv(axis).upperBound(), max);
    }
}
} // namespace

void TestPlots::trailAndAccumulation()
{
    GenericPlot plot;
    QVERIFY(plot.addCurve(0));
    QVERIFY(plot.addCurve(1));
    QCOMPARE(plot.trailLength(), 10);

    for (int k = 0; k < 25; ++k)
        plot.appendData(0, QPointF(k, -k));
    plot.appendData(1, QPointF(7, 7));
    plot.appendData(2, QPointF(1, 1)); // no such curve: ignored
    QList<QPointF> expected;
    for (int k = 15; k < 25; ++k)
        expected << QPointF(k, -k);
    QCOMPARE(pointsOf(plot, 0), expected);
    QCOMPARE(plot.curveData(1)->size(), size_t(1));

    // Switching on keeps the trail and lets it grow past the trail length.
    plot.setAccumulate(true);
    for (int k = 0; k < 5; ++k)
        plot.appendData(0, QPointF(100 + k, 0));
    QCOMPARE(plot.curveData(0)->size(), size_t(15));
    QCOMPARE(pointsOf(plot, 0).first(), QPointF(15, -15));

    // Switching off empties every curve; trails start again from there.
    plot.setAccumulate(false);
    QCOMPARE(plot.curveData(0)->size(), size_t(0));
    QCOMPARE(plot.curveData(1)->size(), size_t(0));
    plot.setTrailLength(3);
    for (int k = 0; k < 4; ++k)
        plot.appendData(1, QPointF(k, k));
    QCOMPARE(pointsOf(plot, 1), (QList<QPointF>{{1, 1}, {2, 2}, {3, 3}}));

    // The bounding rectangle is computed on demand and invalidated by clearing.
    QCOMPARE(plot.curveData(1)->boundingRect(), QRectF(1, 1, 2, 2));
    plot.clearCurve(1);
    QVERIFY(plot.curveData(1)->boundingRect().width() < 0);
}

void TestPlots::clearOneOrAll_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QList<int>>("remaining");
    QTest::newRow("all with -1") << -1 << QList<int>{0, 0, 0};
    QTest::newRow("all without index") << -2 << QList<int>{0, 0, 0};
    QTest::newRow("first") << 0 << QList<int>{0, 2, 3};
    QTest::newRow("last") << 2 << QList<int>{1, 2, 0};
    QTest::newRow("beyond the end") << 3 << QList<int>{1, 2, 3};
}

void TestPlots::clearOneOrAll()
{
    QFETCH(int, index);
    QFETCH(QList<int>, remaining);
    GenericPlot plot;
    for (int i = 0; i < 3; ++i) {
        plot.addCurve(i);
        for (int k = 0; k <= i; ++k)
            plot.appendData(i, QPointF(k, i));
    }
    if (index == -2)
        plot.clear();
    else
        plot.clear(index);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(int(plot.curveData(i)->size()), remaining.at(i));
}

void TestPlots::curveBounds()
{
    IncrementalPlot plot;
    QVERIFY(!plot.addCurve(1));
    QVERIFY(!plot.addCurve(-1));
    QCOMPARE(plot.curveCount(), 0);
    QVERIFY(plot.addCurve(0));
    QVERIFY(plot.addCurve(1));
    QVERIFY(plot.addCurve(0)); // inserted in front, titled with the count before it
    QCOMPARE(plot.curveCount(), 3);
    QCOMPARE(plot.curve(0)->title().text(), QString("2"));
    QCOMPARE(plot.curve(1)->title().text(), QString("0"));
    QCOMPARE(plot.curve(0)->style(), QwtPlotCurve::Dots);
    QCOMPARE(plot.curve(0)->plot(), &plot);
    QCOMPARE(plot.curveColor(0), QColor(0, 0, 254));

    QVERIFY(!plot.removeCurve(3));
    QVERIFY(plot.removeCurve(-1));
    QCOMPARE(plot.curveCount(), 3);
    QVERIFY(plot.removeCurve(0));
    QCOMPARE(plot.curveCount(), 2);
    QCOMPARE(plot.curve(0)->title().text(), QString("0"));
    QCOMPARE(plot.itemList(QwtPlotItem::Rtti_PlotCurve).size(), 2);
}

void TestPlots::symbolTakesCurrentColour()
{
    IncrementalPlot plot;
    plot.addCurve(0);
    plot.setSymbolSize(QSize(3, 3));
    plot.setCurveColor(Qt::red, 0);
    plot.setCurveColor(Qt::green, 5); // ignored
    QCOMPARE(plot.curve(0)->symbol()->brush().color(), QColor(0, 0, 254));

    plot.appendData(0, QPointF(0, 0));
    const QwtSymbol* symbol = plot.curve(0)->symbol();
    QCOMPARE(symbol->style(), QwtSymbol::Ellipse);
    QCOMPARE(symbol->brush().color(), QColor(Qt::red));
    QCOMPARE(symbol->pen().color(), QColor(Qt::red));
    QCOMPARE(symbol->size(), QSize(3, 3));
    // An unchanged symbol is kept, so its pixmap cache survives.
    plot.appendData(0, QPointF(1, 1));
    QCOMPARE(plot.curve(0)->symbol(), symbol);
    plot.setCurveColor(Qt::blue, 0);
    plot.appendData(0, QPointF(2, 2));
    QCOMPARE(plot.curve(0)->symbol()->brush().color(), QColor(Qt::blue));
}

void TestPlots::rangeZoomAndCrossHairs()
{
    GenericPlot plot;
    plot.resize(300, 300);
    checkAxes(plot, -5.0, 5.0);

    plot.setRange(4.5, -4.5);
    plot.setRange(25.0, -25.0);
    checkAxes(plot, -25.0, 25.0);
    QCOMPARE(plot.zoomer()->rangeMax(), 25.0);
    QCOMPARE(plot.zoomer()->zoomBase(), QRectF(-25, -25, 50, 50));
    // One line of each kind, however often the range changes.
    QCOMPARE(itemsTitled(plot, "Vertikale Mittellinie"), 1);
    QCOMPARE(itemsTitled(plot, "Horizontale Mittellinie"), 1);
    QCOMPARE(plot.verticalCrossHair()->shape().boundingRect(), QRectF(0, -25, 0, 50));
    QCOMPARE(plot.horizontalCrossHair()->shape().boundingRect(), QRectF(-25, 0, 50, 0));
    QCOMPARE(plot.verticalCrossHair()->pen(), QPen(Qt::darkGray, 1));

    Zoomer* zoomer = plot.zoomer();
    zoomer->zoom(QRectF(0, 0, 10, 5));
    QCOMPARE(zoomer->zoomRectIndex(), 1u);
    QCOMPARE(plot.axisScaleDiv(QwtPlot::xBottom).lowerBound(), 0.0);
    QCOMPARE(plot.axisScaleDiv(QwtPlot::yLeft).upperBound(), 5.0);
    QVERIFY(zoomer->horizontalScrollBar() && zoomer->horizontalScrollBar()->isVisibleTo(plot.canvas()));
    QVERIFY(plot.axisWidget(QwtPlot::yLeft)->scaleDraw()->minimumExtent() > 0);

    plot.resetZoom();
    plot.replot();
    QCOMPARE(zoomer->zoomRectIndex(), 0u);
    checkAxes(plot, -25.0, 25.0);
    QVERIFY(!zoomer->horizontalScrollBar()->isVisibleTo(plot.canvas()));
    QCOMPARE(plot.axisWidget(QwtPlot::yLeft)->scaleDraw()->minimumExtent(), 0.0);
}

void TestPlots::scrollBarMapping_data()
{
    QTest::addColumn<bool>("vertical");
    QTest::addColumn<double>("minBase");
    QTest::addColumn<double>("maxBase");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<int>("pageStep");
    QTest::addColumn<int>("singleStep");
    QTest::addColumn<int>("position");
    QTest::newRow("half") << false << 0.0 << 1.0 << 0.25 << 0.75 << 500000 << 2500 << 500000;
    QTest::newRow("upper fifth, inverted") << true << -5.0 << 5.0 << 1.0 << 3.0 << 200000
                                           << 1000 << 300000;
    QTest::newRow("min = max") << false << 0.0 << 10.0 << 4.0 << 4.0 << 0 << 1 << 400000;
    QTest::newRow("tiny slider") << false << 0.0 << 1.0 << 0.5 << 0.5001 << 100 << 1 << 500050;
}

void TestPlots::scrollBarMapping()
{
    QFETCH(bool, vertical);
    QFETCH(double, minBase);
    QFETCH(double, maxBase);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(int, pageStep);
    QFETCH(int, singleStep);
    QFETCH(int, position);

    ScrollBar bar(vertical ? Qt::Vertical : Qt::Horizontal);
    QCOMPARE(bar.isInverted(), vertical);
    bar.setBase(minBase, maxBase);
    QSignalSpy spy(&bar, QOverload<Qt::Orientation, double, double>::of(&ScrollBar::valueChanged));
    bar.moveSlider(min, max);
    QCOMPARE(spy.count(), 0); // moving the slider programmatically is silent
    QCOMPARE(bar.pageStep(), pageStep);
    QCOMPARE(bar.singleStep(), singleStep);
    QCOMPARE(bar.minimum(), pageStep / 2);
    QCOMPARE(bar.maximum(), 1000000 - pageStep / 2);
    QCOMPARE(bar.sliderPosition(), position);

    // A user move reports the shown part in base units.
    const int step = vertical ? -10000 : 10000;
    bar.setValue(bar.value() + step);
    QCOMPARE(spy.count(), 1);
    const double shift = (maxBase - minBase) * 0.01;
    QCOMPARE(spy.at(0).at(0).value<Qt::Orientation>(), bar.orientation());
    QVERIFY(qAbs(spy.at(0).at(1).toDouble() - (min + shift)) < 1e-9);
    QVERIFY(qAbs(spy.at(0).at(2).toDouble() - (max + shift)) < 1e-9);
}

void TestPlots::scrollBarMovesZoomRect()
{
    GenericPlot plot;
    plot.resize(300, 300);
    Zoomer* zoomer = plot.zoomer();
    zoomer->zoom(QRectF(-1, -1, 2, 2));
    ScrollBar* hBar = zoomer->horizontalScrollBar();
    ScrollBar* vBar = zoomer->verticalScrollBar();
    QVERIFY(hBar && vBar);
    // Moving right by 10 % of the base and up by 20 %.
    hBar->setValue(hBar->value() + 100000);
    vBar->setValue(vBar->value() - 200000);
    const QRectF rect = zoomer->zoomRect();
    QVERIFY(qAbs(rect.left() - 0.0) < 1e-6);
    QVERIFY(qAbs(rect.top() - 1.0) < 1e-6);
    QCOMPARE(rect.size(), QSizeF(2, 2));
    QVERIFY(qAbs(plot.axisScaleDiv(QwtPlot::yLeft).upperBound() - 3.0) < 1e-6);
    // Bars sit over the canvas edges opposite to the bottom and left axes,
    // and the rubber band stays off them.
    QCOMPARE(hBar->geometry().top(), plot.canvas()->contentsRect().top());
    QCOMPARE(vBar->geometry().right(), plot.canvas()->contentsRect().right());
    QCOMPARE(zoomer->clampRect().top(), hBar->geometry().bottom() + 1);
    QCOMPARE(zoomer->clampRect().right(), vBar->geometry().left() - 1);
}

void TestPlots::configuredPlotKinds()
{
    GenericPlot position, time, intensity;
    PlotConfigurator::configurePositionPlot(&position);
    PlotConfigurator::configureTimePlot(&time);
    PlotConfigurator::configureIntensityPlot(&intensity);

    QVERIFY(!position.accumulates());
    QCOMPARE(position.symbolSize(), QSize(3, 3));
    QVERIFY(position.verticalCrossHair() && position.horizontalCrossHair());
    QCOMPARE(position.zoomer()->mousePattern()[QwtEventPattern::MouseSelect1].button,
             Qt::LeftButton);

    QVERIFY(time.accumulates() && intensity.accumulates());
    QVERIFY(time.axisEnabled(QwtPlot::xTop) && time.axisEnabled(QwtPlot::yLeft));
    QVERIFY(!time.axisEnabled(QwtPlot::xBottom) && !time.axisEnabled(QwtPlot::yRight));
    QVERIFY(intensity.axisEnabled(QwtPlot::xBottom) && !intensity.axisEnabled(QwtPlot::xTop));
    QCOMPARE(time.axisScaleDiv(QwtPlot::xTop).upperBound(), 10.0);
    QCOMPARE(intensity.axisScaleDiv(QwtPlot::yLeft).upperBound(), 8.0);
    QCOMPARE(intensity.canvasBackground().color(), QColor("azure"));
    QCOMPARE(time.canvasBackground().color(), QColor("lightblue"));
    for (const GenericPlot* plot : {&time, &intensity}) {
        for (const auto& pattern : plot->zoomer()->mousePattern())
            QCOMPARE(pattern.button, Qt::NoButton);
        QCOMPARE(plot->canvas()->cursor().shape(), Qt::ArrowCursor);
    }
    // Zero line of the time plot; redrawing replaces it.
    PlotConfigurator::drawWhiteLine(&time, 5000);
    QCOMPARE(itemsTitled(time, "Horizontale Mittellinie"), 1);
    QCOMPARE(time.zeroLine()->shape().boundingRect(), QRectF(0, 0, 5000, 0));
    QVERIFY(!intensity.zeroLine());

    // Backing store off while acquiring, on again afterwards.
    auto* canvas = qobject_cast<QwtPlotCanvas*>(time.canvas());
    time.start();
    QVERIFY(!canvas->testPaintAttribute(QwtPlotCanvas::BackingStore));
    time.stop();
    QVERIFY(canvas->testPaintAttribute(QwtPlotCanvas::BackingStore));
}

void TestPlots::renderedPointsAppearOnlyWherePlotted()
{
    GenericPlot plot;
    PlotConfigurator::configurePositionPlot(&plot);
    plot.resize(400, 400);
    plot.addCurve(0);
    const QColor colour(255, 0, 255); // nowhere else on a plot
    plot.setCurveColor(colour, 0);
    const QList<QPointF> points{{-3, -3}, {2.5, 1}, {0.5, 4}};
    for (const QPointF& p : points)
        plot.appendData(0, p);
    plot.replot();
    const QImage image = plot.canvas()->grab().toImage();

    const QwtScaleMap xMap = plot.canvasMap(QwtPlot::xBottom);
    const QwtScaleMap yMap = plot.canvasMap(QwtPlot::yLeft);
    QList<QPoint> centres;
    for (const QPointF& p : points) {
        const QPoint c(qRound(xMap.transform(p.x())), qRound(yMap.transform(p.y())));
        centres << c;
        bool found = false;
        for (int dx = -2; dx <= 2 && !found; ++dx)
            for (int dy = -2; dy <= 2 && !found; ++dy)
                found = image.pixelColor(c + QPoint(dx, dy)) == colour;
        QVERIFY2(found, qPrintable(QString("no point at %1,%2").arg(c.x()).arg(c.y())));
    }
    int stray = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) != colour)
                continue;
            bool near = false;
            for (const QPoint& c : centres)
                near = near || (qAbs(c.x() - x) <= 3 && qAbs(c.y() - y) <= 3);
            stray += near ? 0 : 1;
        }
    QCOMPARE(stray, 0);
}

void TestPlots::rangeBarAndColourScale()
{
    ThermoSlider bar;
    QCOMPARE(bar.orientation(), Qt::Vertical);
    QCOMPARE(bar.scalePosition(), QwtThermo::TrailingScale);
    QCOMPARE(bar.lowerBound(), 0.0);
    QCOMPARE(bar.upperBound(), 10.0);
    QCOMPARE(bar.pipeWidth(), 4);
    QCOMPARE(bar.fillBrush().color(), QColor(Qt::darkCyan));

    // Red ends of one eighth of the height, light green in between.
    ColorScalesFrame scale;
    scale.resize(20, 80);
    const QImage image = scale.grab().toImage();
    QCOMPARE(image.pixelColor(7, 8), QColor("red"));
    QCOMPARE(image.pixelColor(7, 40), QColor("lightgreen"));
    QCOMPARE(image.pixelColor(7, 75), QColor("red"));
    QVERIFY(image.pixelColor(15, 40) != QColor("lightgreen"));
}

void TestPlots::stampedSymbolsMatchQwtDrawing_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<bool>("stampable");
    QTest::newRow("1 x 1") << QSize(1, 1) << QColor(Qt::red) << true;
    QTest::newRow("2 x 2") << QSize(2, 2) << QColor(0, 0, 254) << true;
    QTest::newRow("3 x 3") << QSize(3, 3) << QColor(10, 200, 30) << true;
    QTest::newRow("7 x 5") << QSize(7, 5) << QColor(Qt::darkMagenta) << true;
    QTest::newRow("translucent") << QSize(3, 3) << QColor(255, 0, 0, 128) << false;
}

void TestPlots::stampedSymbolsMatchQwtDrawing()
{
    QFETCH(QSize, size);
    QFETCH(QColor, colour);
    QFETCH(bool, stampable);

    // The same points once through IncrementalPlot (stamped symbols, dots
    // left out) and once through a plain QwtPlotCurve in an identical plot.
    GenericPlot stamped, reference;
    QVector<QPointF> points;
    QRandomGenerator random(7);
    for (int i = 0; i < 400; ++i)
        points << QPointF(random.bounded(11.0) - 5.5, random.bounded(11.0) - 5.5);
    points << QPointF(-5, -5) << QPointF(5, 5) << QPointF(-5, 5) << QPointF(0.001, 4.999);

    stamped.setAccumulate(true);
    stamped.setSymbolSize(size);
    stamped.addCurve(0);
    stamped.setCurveColor(colour, 0);
    for (const QPointF& p : points)
        stamped.appendData(0, p);

    auto* plain = new QwtPlotCurve;
    plain->setStyle(QwtPlotCurve::Dots);
    plain->setSymbol(new QwtSymbol(QwtSymbol::Ellipse, QBrush(colour), QPen(colour), size));
    plain->setSamples(points);
    plain->attach(&reference);

    QImage images[2];
    GenericPlot* plots[2] = {&stamped, &reference};
    for (int k = 0; k < 2; ++k) {
        plots[k]->resize(330, 270);
        plots[k]->replot();
        images[k] = plots[k]->canvas()->grab().toImage();
    }
    QCOMPARE(static_cast<PlotCurve*>(stamped.curve(0))->symbolStampable(), stampable);
    QCOMPARE(images[0].size(), images[1].size());
    QVERIFY(images[0] == images[1]);
}

QTEST_MAIN(TestPlots)
#include "tst_plots.moc"
