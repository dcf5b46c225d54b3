// The jitter analysis widget: a recording shown in its table and plots, the
// headroom warning, a new segment length, and the rolling live record.

#include "analysis_ui/JitterAnalysisWidget.h"

#include <QLabel>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>

#include <cmath>

namespace {

// 40 s at 200 Hz: stage 1 x a 7 Hz sine of 0.2 V, stage 2 y a 31 Hz sine of
// 0.05 V; the stage 2 x actuator at 9.6 V, the others at 5 V.
JitterRecord sines(double seconds = 40)
{
    JitterRecord r;
    r.sampleRate = 200;
    r.positionUnit[0] = QStringLiteral("µm");
    r.positionUnit[1] = QStringLiteral("V");
    const int n = int(seconds * r.sampleRate);
    for (int i = 0; i < n; ++i) {
        const double t = i / r.sampleRate;
        r.position[0][0].push_back(0.2 * std::sin(2 * M_PI * 7 * t));
        r.position[0][1].push_back(0.001 * std::cos(i * 1.3));
        r.position[1][0].push_back(0.001 * std::sin(i * 0.7));
        r.position[1][1].push_back(0.05 * std::sin(2 * M_PI * 31 * t));
        r.range[0][0].push_back(5);
        r.range[0][1].push_back(5);
        r.range[1][0].push_back(9.6);
        r.range[1][1].push_back(5);
    }
    return r;
}

QString cell(QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

int curves(QwtPlot *plot)
{
    return plot->itemList(QwtPlotItem::Rtti_PlotCurve).size();
}

} // namespace

class JitterAnalysisWidgetTest : public QObject
{
    Q_OBJECT
private slots:
    void showsARecord()
    {
        JitterAnalysisWidget w;
        w.show();
        auto *table = w.findChild<QTableWidget *>(QStringLiteral("tableWidget_Figures"));
        auto *spectrum = w.findChild<QwtPlot *>(QStringLiteral("plot_Spectrum"));
        auto *allan = w.findChild<QwtPlot *>(QStringLiteral("plot_Allan"));
        auto *segment = w.findChild<QSpinBox *>(QStringLiteral("spinBox_Segment"));
        auto *info = w.findChild<QLabel *>(QStringLiteral("label_RecordInfo"));
        QVERIFY(table && spectrum && allan && segment && info);

        w.setRecord(sines());
        QCOMPARE(cell(table, 0, JitterAnalysisWidget::ColumnRms), QStringLiteral("0.141 µm"));
        QCOMPARE(cell(table, 0, JitterAnalysisWidget::ColumnPeak), QStringLiteral("6.98 Hz")); // bin 143 of 0.0488 Hz
        QCOMPARE(cell(table, 3, JitterAnalysisWidget::ColumnPeak), QStringLiteral("31.01 Hz"));
        QCOMPARE(cell(table, 0, JitterAnalysisWidget::ColumnBand2), QStringLiteral("0.141")); // 1-10 Hz
        QCOMPARE(cell(table, 3, JitterAnalysisWidget::ColumnBand3), QStringLiteral("0.0354")); // 10-100 Hz
        // Stage 2 x actuator 0.4 V from 10 V: the warning colour and a tool tip.
        QTableWidgetItem *warned = table->item(2, JitterAnalysisWidget::ColumnHeadroom);
        QCOMPARE(warned->text(), QStringLiteral("0.40 V"));
        QVERIFY(warned->background().style() != Qt::NoBrush);
        QVERIFY2(warned->toolTip().contains(QStringLiteral("Actuator at 9.60 V, 0.40 V from 10 V")),
                 qPrintable(warned->toolTip()));
        QCOMPARE(table->item(0, JitterAnalysisWidget::ColumnHeadroom)->background().style(), Qt::NoBrush);
        // A spectrum and its cumulative RMS per axis; one Allan curve per axis.
        QCOMPARE(curves(spectrum), 8);
        QCOMPARE(curves(allan), 4);
        QVERIFY(info->text().contains(QStringLiteral("8000 samples at 200 Hz")));
        QVERIFY(info->text().contains(QStringLiteral("resolution 0.0488 Hz")));

        segment->setValue(1000);
        QCOMPARE(w.result().front().spectrum.segmentLength, 1000);
        QVERIFY(info->text().contains(QStringLiteral("resolution 0.2 Hz")));

        w.setRecord(sines(0.05)); // 10 samples: too few
        QVERIFY(info->text().contains(QStringLiteral("Not enough data")));
        QCOMPARE(curves(spectrum), 0);
        QVERIFY(cell(table, 0, JitterAnalysisWidget::ColumnRms).isEmpty());
    }

    void liveRollingRecord()
    {
        JitterAnalysisWidget w;
        QSignalSpy analyzed(&w, &JitterAnalysisWidget::analyzed);
        w.startLive(100, QStringLiteral("V"), QStringLiteral("V"), 20);
        QVERIFY(w.isLive());
        // 50 s of a 5 Hz sine on stage 1 y; only the last 20 s are analysed.
        for (int i = 0; i < 5000; ++i) {
            const double y = (i < 3000 ? 1.0 : 0.1) * std::sin(2 * M_PI * 5 * i / 100.0);
            w.appendSample({0, y, 0, 0}, {5, 5, 5, 5 + i * 0.0001});
            QVERIFY(w.record().samples() <= 3000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(analyzed.count() >= 1, 10000);
        const auto &result = w.result();
        QCOMPARE(result.size(), std::size_t(4));
        QCOMPARE(int(result[1].spectrum.sampleRate), 100);
        QVERIFY2(std::abs(result[1].rms - 0.1 / std::sqrt(2.0)) < 0.002, qPrintable(QString::number(result[1].rms)));
        QCOMPARE(result[1].peaks.at(0).frequency, 5.0);
        // Stage 2 y actuator rises 0.01 V/s: the fit finds it.
        QVERIFY(std::abs(result[3].headroom.drift - 0.01) < 1e-4);

        // Nothing new: no further analysis; new samples: one more.
        const int before = w.analyses();
        QTest::qWait(1500);
        QCOMPARE(w.analyses(), before);
        w.appendSample({0, 0, 0, 0}, {5, 5, 5, 5});
        QTRY_VERIFY_WITH_TIMEOUT(w.analyses() == before + 1, 10000);
        w.stopLive();
        w.appendSample({0, 0, 0, 0}, {5, 5, 5, 5});
        QTest::qWait(1500);
        QCOMPARE(w.analyses(), before + 1);
    }
};

QTEST_MAIN(JitterAnalysisWidgetTest)
#include "tst_jitteranalysiswidget.moc"
