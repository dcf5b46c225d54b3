#include "display/CurveData.h"
#include "display/GenericPlot.h"
#include "display/PlotCurve.h"

#include <qwt_plot_curve.h>
#include <qwt_symbol.h>

#include <QtTest>

#include <cmath>

namespace {
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
        QCOMPARE(plot.curveData(1)->boundingRect(), QRectF(1, 1, 2, 2)); // (0, 0) dropped
        plot.clearCurve(1); // the cached bounding rectangle goes with the points
        QVERIFY(plot.curveData(1)->boundingRect().width() < 0);
    }

    void curvesAddedRemovedAndCleared()
    {
        IncrementalPlot plot;
        QCOMPARE((QList<bool>{plot.addCurve(1), plot.addCurve(-1), plot.addCurve(0), plot.addCurve(1), plot.addCurve(0)}),
                 (QList<bool>{false, false, true, true, true}));
        QCOMPARE(plot.curve(0)->title().text(), QString("2")); // inserted in front, titled with the count before it
        QCOMPARE((QList<bool>{plot.removeCurve(3), plot.removeCurve(-1), plot.removeCurve(0)}), (QList<bool>{false, true, true}));
        QCOMPARE(plot.curve(0)->title().text(), QString("0"));
        QCOMPARE(plot.itemList(QwtPlotItem::Rtti_PlotCurve).size(), 2);

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
            const QSize size(330, 270);
            QVERIFY2(renderCanvas(stamped, size) == renderCanvas(reference, size), qPrintable(r.colour.name(QColor::HexArgb)));
            QCOMPARE(static_cast<PlotCurve*>(stamped.curve(0))->symbolStampable(), r.stampable);
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
