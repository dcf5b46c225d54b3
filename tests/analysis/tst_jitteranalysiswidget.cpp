// The jitter analysis widget: a recording shown in its table and plots, the
// headroom warning, a new segment length, and the rolling live record. The
// figures themselves are known answers of tst_jitteranalysis; here, that each
// reaches its own cell.

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
    for (int i = 0; i < int(seconds * r.sampleRate); ++i) {
        const double t = i / r.sampleRate;
        const double values[2][2] = {{0.2 * std::sin(2 * M_PI * 7 * t), 0.001 * std::cos(i * 1.3)},
                                     {0.001 * std::sin(i * 0.7), 0.05 * std::sin(2 * M_PI * 31 * t)}};
        for (int s = 0; s < 2; ++s)
            for (int a = 0; a < 2; ++a) {
                r.position[s][a].push_back(values[s][a]);
                r.range[s][a].push_back(s == 1 && a == 0 ? 9.6 : 5);
            }
    }
    return r;
}

int curves(QWidget *w, const char *plot)
{
    return w->findChild<QwtPlot *>(plot)->itemList(QwtPlotItem::Rtti_PlotCurve).size();
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
        auto *table = w.findChild<QTableWidget *>("tableWidget_Figures");
        auto *info = w.findChild<QLabel *>("label_RecordInfo");
        auto cell = [table](int row, int column) { return table->item(row, column) ? table->item(row, column)->text() : QString(); };

        w.setRecord(sines());
        using W = JitterAnalysisWidget;
        QCOMPARE(QStringList({cell(0, W::ColumnRms), cell(0, W::ColumnPeak), cell(3, W::ColumnPeak), cell(0, W::ColumnBand2),
                              cell(3, W::ColumnBand3), cell(2, W::ColumnHeadroom)}),
                 QStringList({"0.141 µm", "6.98 Hz", "31.01 Hz", "0.141", "0.0354", "0.40 V"}));
        // Stage 2 x actuator 0.4 V from 10 V: the warning colour.
        QVERIFY(table->item(2, W::ColumnHeadroom)->background().style() != Qt::NoBrush);
        QVERIFY(table->item(0, W::ColumnHeadroom)->background().style() == Qt::NoBrush);
        // A spectrum and its cumulative RMS per axis; one Allan curve per axis.
        QCOMPARE(qMakePair(curves(&w, "plot_Spectrum"), curves(&w, "plot_Allan")), qMakePair(8, 4));
        QVERIFY(info->text().contains("8000 samples at 200 Hz"));
        QVERIFY(info->text().contains("resolution 0.0488 Hz"));
        w.findChild<QSpinBox *>("spinBox_Segment")->setValue(1000);
        QVERIFY(w.result().front().spectrum.segmentLength == 1000);
        QVERIFY(info->text().contains("resolution 0.2 Hz"));
        w.setRecord(sines(0.05)); // 10 samples: too few
        QVERIFY(info->text().contains("Not enough data"));
        QVERIFY(curves(&w, "plot_Spectrum") == 0);
        QVERIFY(cell(0, W::ColumnRms).isEmpty());
    }

    void liveRollingRecord()
    {
        JitterAnalysisWidget w;
        QSignalSpy analyzed(&w, &JitterAnalysisWidget::analyzed);
        w.startLive(100, "V", "V", 20);
        QVERIFY(w.isLive());
        // 50 s of a 5 Hz sine on stage 1 y, ten times weaker in the last 20 s
        // that alone are analysed; the stage 2 y actuator rises 0.01 V/s.
        for (int i = 0; i < 5000; ++i) {
            w.appendSample({0, (i < 3000 ? 1.0 : 0.1) * std::sin(2 * M_PI * 5 * i / 100.0), 0, 0}, {5, 5, 5, 5 + i * 0.0001});
            QVERIFY(w.record().samples() <= 3000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(analyzed.count() >= 1, 10000);
        const auto &result = w.result();
        QVERIFY(result.size() == 4);
        QVERIFY(result[1].spectrum.sampleRate == 100);
        QVERIFY2(std::abs(result[1].rms - 0.1 / std::sqrt(2.0)) < 0.002, qPrintable(QString::number(result[1].rms)));
        QVERIFY(std::abs(result[3].headroom.drift - 0.01) < 1e-4);

        // New samples: analysed again.
        const int before = w.analyses();
        w.appendSample({0, 0, 0, 0}, {5, 5, 5, 5});
        QTRY_VERIFY_WITH_TIMEOUT(w.analyses() > before, 10000);
    }
};

QTEST_MAIN(JitterAnalysisWidgetTest)
#include "tst_jitteranalysiswidget.moc"
