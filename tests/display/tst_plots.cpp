#include "display/CurveData.h"
#include "display/GenericPlot.h"
#include "display/PlotConfigurator.h"
#include "display/PlotCurve.h"
#include "display/ScrollBar.h"
#include "display/Zoomer.h"

#include <qwt_plot_curve.h>
#include <qwt_plot_shapeitem.h>
#include <qwt_scale_draw.h>
#include <qwt_scale_widget.h>
#include <qwt_symbol.h>

#include <QtTest>

#include <cmath>

namespace {
void checkAxes(const QwtPlot& plot, double min, double max)
{
    for (int axis = 0; axis < QwtPlot::axisCnt; ++axis)
        QCOMPARE(qMakePair(plot.axisScaleDiv(axis).lowerBound(), plot.axisScaleDiv(axis).upperBound()), qMakePair(min, max));
}

QImage renderCanvas(QwtPlot& plot, const QSize& size)
{
    plot.resize(size);
    plot.replot();
    return plot.canvas()->grab().toImage();
}

// The points as plain Qwt draws them: dots with ellipse symbols.
void attachPlainCurve(QwtPlot& plot, const QVector<QPointF>& points, const QColor& colour, const QSize& size)
{
    auto* plain = new QwtPlotCurve;
    plain->setStyle(QwtPlotCurve::Dots);
    plain->setSymbol(new QwtSymbol(QwtSymbol::Ellipse, QBrush(colour), QPen(colour), size));
    plain->setSamples(points);
    plain->attach(&plot);
}

QList<int> sizes(const GenericPlot& plot)
{
    QList<int> list;
    for (int i = 0; i < plot.curveCount(); ++i)
        list << int(plot.curveData(i)->size());
    return list;
}
} // namespace

class TestPlots : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<Qt::Orientation>(); }

    void trailAndAccumulation()
    {
        GenericPlot plot;
        plot.addCurve(0);
        plot.addCurve(1);
        for (int k = 0; k < 25; ++k)
            plot.appendData(0, QPointF(k, -k));
        plot.appendData(1, QPointF(7, 7));
        plot.appendData(2, QPointF(1, 1)); // no such curve: ignored
        QCOMPARE(sizes(plot), QList<int>({10, 1})); // the last 10 only
        QCOMPARE(plot.curveData(0)->sample(0), QPointF(15, -15));

        // Switching on keeps the trail and lets it grow past the trail length.
        plot.setAccumulate(true);
        for (int k = 0; k < 5; ++k)
            plot.appendData(0, QPointF(100 + k, 0));
        QCOMPARE(plot.curveData(0)->size(), size_t(15));

        // Switching off empties every curve; trails start again from there.
        plot.setAccumulate(false);
        QCOMPARE(sizes(plot), QList<int>({0, 0}));
        plot.setTrailLength(3);
        for (int k = 0; k < 4; ++k)
            plot.appendData(1, QPointF(k, k));
        QCOMPARE(plot.curveData(1)->size(), size_t(3));
        QCOMPARE(plot.curveData(1)->boundingRect(), QRectF(1, 1, 2, 2)); // (0, 0) dropped
        // The cached bounding rectangle is invalidated by clearing.
        plot.clearCurve(1);
        QVERIFY(plot.curveData(1)->boundingRect().width() < 0);
    }

    void clearOneOrAll()
    {
        // Curves of 1, 2 and 3 points; index -2 stands for clear() without an index.
        const QList<QPair<int, QList<int>>> cases{
            {-1, {0, 0, 0}}, {-2, {0, 0, 0}}, {0, {0, 2, 3}}, {2, {1, 2, 0}}, {3, {1, 2, 3}}};
        for (const auto& [index, remaining] : cases) {
            GenericPlot plot;
            for (int i = 0; i < 3; ++i) {
                plot.addCurve(i);
                for (int k = 0; k <= i; ++k)
                    plot.appendData(i, QPointF(k, i));
            }
            index == -2 ? plot.clear() : plot.clear(index);
            QVERIFY2(sizes(plot) == remaining, qPrintable(QString("clear(%1)").arg(index)));
        }
    }

    void curveBoundsAndSymbol()
    {
        IncrementalPlot plot;
        QCOMPARE((QList<bool>{plot.addCurve(1), plot.addCurve(-1), plot.addCurve(0), plot.addCurve(1)}),
                 (QList<bool>{false, false, true, true}));
        QVERIFY(plot.addCurve(0)); // inserted in front, titled with the count before it
        QCOMPARE(plot.curve(0)->title().text(), QString("2"));
        QVERIFY(!plot.removeCurve(3));
        QVERIFY(plot.removeCurve(-1));
        QCOMPARE(plot.curveCount(), 3);
        QVERIFY(plot.removeCurve(0));
        QCOMPARE(plot.curve(0)->title().text(), QString("0"));
        QCOMPARE(plot.itemList(QwtPlotItem::Rtti_PlotCurve).size(), 2);

        // A new colour reaches the symbol with the next point; an unchanged
        // symbol is kept so that its pixmap cache survives.
        plot.setCurveColor(Qt::red, 0);
        plot.setCurveColor(Qt::green, 5); // ignored
        plot.appendData(0, QPointF(0, 0));
        const QwtSymbol* symbol = plot.curve(0)->symbol();
        plot.appendData(0, QPointF(1, 1));
        QCOMPARE(plot.curve(0)->symbol(), symbol);
        plot.setCurveColor(Qt::blue, 0);
        plot.appendData(0, QPointF(2, 2));
        QCOMPARE(plot.curve(0)->symbol()->brush().color(), QColor(Qt::blue));
    }

    void rangeAndZoom()
    {
        GenericPlot plot;
        plot.resize(300, 300);
        plot.setRange(4.5, -4.5);
        plot.setRange(25.0, -25.0);
        checkAxes(plot, -25.0, 25.0);
        Zoomer* zoomer = plot.zoomer();
        // One line of each kind, however often the range changes.
        QCOMPARE(plot.itemList(QwtPlotItem::Rtti_PlotShape).size(), 2);
        QCOMPARE(plot.verticalCrossHair()->shape().boundingRect(), QRectF(0, -25, 0, 50));
        QCOMPARE(plot.horizontalCrossHair()->shape().boundingRect(), QRectF(-25, 0, 50, 0));

        zoomer->zoom(QRectF(0, 0, 10, 5));
        QCOMPARE(plot.axisScaleDiv(QwtPlot::xBottom).lowerBound(), 0.0);
        QCOMPARE(plot.axisScaleDiv(QwtPlot::yLeft).upperBound(), 5.0);
        QVERIFY(plot.axisWidget(QwtPlot::yLeft)->scaleDraw()->minimumExtent() > 0);
        // Scrolling right by 10 % of the base (50) and up by 20 % moves the zoom rectangle.
        ScrollBar* hBar = zoomer->horizontalScrollBar();
        ScrollBar* vBar = zoomer->verticalScrollBar();
        QVERIFY(hBar->isVisibleTo(plot.canvas()));
        hBar->setValue(hBar->value() + 100000);
        vBar->setValue(vBar->value() - 200000);
        QCOMPARE(zoomer->zoomRect(), QRectF(5, 10, 10, 5));
        QCOMPARE(plot.axisScaleDiv(QwtPlot::yLeft).upperBound(), 15.0);
        // The rubber band stays off the bars.
        QCOMPARE(zoomer->clampRect().top(), hBar->geometry().bottom() + 1);
        QCOMPARE(zoomer->clampRect().right(), vBar->geometry().left() - 1);

        // Keys Qt delivers without a code (compose, unknown keys) leave the zoom alone.
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent key(type, 0, Qt::NoModifier);
            QApplication::sendEvent(plot.canvas(), &key);
        }
        QCOMPARE(zoomer->zoomRectIndex(), 1u);

        plot.resetZoom();
        plot.replot();
        QCOMPARE(zoomer->zoomRectIndex(), 0u);
        checkAxes(plot, -25.0, 25.0);
        QVERIFY(!hBar->isVisibleTo(plot.canvas()));
        QCOMPARE(plot.axisWidget(QwtPlot::yLeft)->scaleDraw()->minimumExtent(), 0.0);
    }

    void scrollBarMapping()
    {
        // Orientation, base as left/right and shown part as top/bottom; then
        // page step, single step and slider position.
        const struct { const char* name; bool vertical; QRectF parts; QVector<int> ticks; } rows[] = {
            {"half", false, {0, 0.25, 1, 0.5}, {500000, 2500, 500000}},
            {"upper fifth, inverted", true, {-5, 1, 10, 2}, {200000, 1000, 300000}},
            {"min = max", false, {0, 4, 10, 0}, {0, 1, 400000}},
            {"tiny slider", false, {0, 0.5, 1, 0.0001}, {100, 1, 500050}}};
        for (const auto& r : rows) {
            ScrollBar bar(r.vertical ? Qt::Vertical : Qt::Horizontal);
            QCOMPARE(bar.isInverted(), r.vertical);
            bar.setBase(r.parts.left(), r.parts.right());
            QSignalSpy spy(&bar, QOverload<Qt::Orientation, double, double>::of(&ScrollBar::valueChanged));
            bar.moveSlider(r.parts.top(), r.parts.bottom());
            QCOMPARE(spy.count(), 0); // moving the slider programmatically is silent
            QCOMPARE((QVector<int>{bar.pageStep(), bar.singleStep(), bar.sliderPosition(), bar.minimum(), bar.maximum()}),
                     (r.ticks + QVector<int>{r.ticks[0] / 2, 1000000 - r.ticks[0] / 2}));

            // A user move by 1 % reports the shown part in base units.
            bar.setValue(bar.value() + (r.vertical ? -10000 : 10000));
            QCOMPARE(spy.count(), 1);
            const double shift = r.parts.width() * 0.01;
            QCOMPARE(spy.at(0).at(0).value<Qt::Orientation>(), bar.orientation());
            QVERIFY2(qAbs(spy.at(0).at(1).toDouble() - (r.parts.top() + shift)) < 1e-9, r.name);
            QVERIFY2(qAbs(spy.at(0).at(2).toDouble() - (r.parts.bottom() + shift)) < 1e-9, r.name);
        }
    }

    void stampedSymbolsMatchQwtDrawing()
    {
        // The same points once through IncrementalPlot (stamped symbols, dots
        // left out) and once through a plain QwtPlotCurve in an identical plot.
        QVector<QPointF> points;
        QRandomGenerator random(7);
        for (int i = 0; i < 400; ++i)
            points << QPointF(random.bounded(11.0) - 5.5, random.bounded(11.0) - 5.5);
        points << QPointF(-5, -5) << QPointF(5, 5) << QPointF(-5, 5) << QPointF(0.001, 4.999);
        const struct { QSize size; QColor colour; bool stampable; } rows[] = {
            {{1, 1}, Qt::red, true}, {{3, 3}, {10, 200, 30}, true}, {{7, 5}, Qt::darkMagenta, true},
            {{3, 3}, {255, 0, 0, 128}, false} /* translucent */};
        for (const auto& r : rows) {
            GenericPlot stamped, reference;
            stamped.setAccumulate(true);
            stamped.setSymbolSize(r.size);
            stamped.addCurve(0);
            stamped.setCurveColor(r.colour, 0);
            for (const QPointF& p : points)
                stamped.appendData(0, p);
            attachPlainCurve(reference, points, r.colour, r.size);
            const QImage image = renderCanvas(stamped, QSize(330, 270));
            QCOMPARE(static_cast<PlotCurve*>(stamped.curve(0))->symbolStampable(), r.stampable);
            QVERIFY2(image == renderCanvas(reference, QSize(330, 270)), qPrintable(r.colour.name(QColor::HexArgb)));
        }
    }

    void denseSweepMatchesQwtDrawing()
    {
        // Three overlapping curves as a time plot holds them at 500 Hz: a dozen
        // points per pixel column, with one-sample spikes that are the only
        // points at their extreme. Drawn in steps, as replots during a sweep do,
        // again after a clear and after a resize, every picture must equal plain
        // Qwt drawing.
        const QColor colours[3] = {Qt::red, QColor(0, 120, 0), Qt::blue};
        QVector<QPointF> points[3];
        QRandomGenerator random(11);
        GenericPlot dense;
        dense.setAccumulate(true);
        for (int c = 0; c < 3; ++c) {
            for (int i = 0; i < 5000; ++i) {
                const double spike = i % 397 == 5 * c ? (i % 2 ? 4.5 : -4.5) : 0.0;
                points[c] << QPointF(-5.0 + i * 0.002, std::sin(i * 0.003 + c) + random.bounded(0.4) + spike);
            }
            dense.addCurve(c);
            dense.setCurveColor(colours[c], c);
        }
        // The second sweep starts from a later point and is longer before its
        // first replot than the first sweep was at its last.
        const QVector<int> steps[2] = {{1200, 1201, 3000}, {4000, 5000}};
        int done = 0;
        for (int round = 0; round < 2; ++round) {
            const int first = round * 100;
            for (int upTo : steps[round]) {
                GenericPlot reference;
                for (int c = 0; c < 3; ++c) {
                    for (int i = done; i < upTo; ++i)
                        dense.appendData(c, points[c].at(i));
                    attachPlainCurve(reference, points[c].mid(first, upTo - first), colours[c], QSize(2, 2));
                }
                done = upTo;
                // The last picture of the second sweep comes from a resized plot.
                const QSize size = upTo == 5000 ? QSize(300, 240) : QSize(330, 270);
                QVERIFY2(renderCanvas(dense, size) == renderCanvas(reference, size),
                         qPrintable(QString("sweep %1, %2 points").arg(round + 1).arg(upTo)));
            }
            dense.clearAllCurves();
            done = 100;
        }
    }
};

QTEST_MAIN(TestPlots)
#include "tst_plots.moc"
