#include "JitterAnalysisWidget.h"

#include "JitterPlots.h"

#include "analysis/RecordReader.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <qwt_plot.h>

#include <cmath>

namespace {

QString figure(double v)
{
    return std::isnan(v) ? QStringLiteral("n/a") : QString::number(v, 'g', 3);
}

QString duration(double seconds)
{
    if (std::isinf(seconds))
        return QStringLiteral("no drift towards a limit");
    if (seconds < 120)
        return QStringLiteral("%1 s to a limit").arg(seconds, 0, 'f', 0);
    if (seconds < 7200)
        return QStringLiteral("%1 min to a limit").arg(seconds / 60, 0, 'f', 1);
    return QStringLiteral("%1 h to a limit").arg(seconds / 3600, 0, 'f', 1);
}

} // namespace

JitterAnalysisWidget::JitterAnalysisWidget(QWidget *parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Jitter analysis"));
    m_open = new QPushButton(QStringLiteral("Open recording..."), this);
    m_open->setObjectName(QStringLiteral("pushButton_OpenRecording"));
    m_segment = new QSpinBox(this);
    m_segment->setObjectName(QStringLiteral("spinBox_Segment"));
    m_segment->setRange(64, 1 << 20);
    m_segment->setValue(4096);
    m_segment->setSingleStep(1024);
    m_segment->setPrefix(QStringLiteral("Segment "));
    m_segment->setSuffix(QStringLiteral(" samples"));
    m_segment->setAccessibleName(QStringLiteral("Spectrum segment length"));
    m_info = new QLabel(QStringLiteral("No data"), this);
    m_info->setObjectName(QStringLiteral("label_RecordInfo"));

    m_table = new QTableWidget(4, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("tableWidget_Figures"));
    m_table->setAccessibleName(QStringLiteral("Jitter figures per stage and axis"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setHorizontalHeaderLabels({QStringLiteral("RMS"), QStringLiteral("0.1-1 Hz"), QStringLiteral("1-10 Hz"),
                                        QStringLiteral("10-100 Hz"), QStringLiteral("100 Hz-Nyquist"),
                                        QStringLiteral("Peak"), QStringLiteral("Headroom")});
    m_table->setVerticalHeaderLabels({QStringLiteral("Stage 1 x"), QStringLiteral("Stage 1 y"),
                                      QStringLiteral("Stage 2 x"), QStringLiteral("Stage 2 y")});
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->setMaximumHeight(150);

    m_spectrum = JitterPlots::createSpectrumPlot(this);
    m_spectrum->setObjectName(QStringLiteral("plot_Spectrum"));
    m_spectrum->setAccessibleName(QStringLiteral("Jitter analysis, amplitude spectral density"));
    m_allan = JitterPlots::createAllanPlot(this);
    m_allan->setObjectName(QStringLiteral("plot_Allan"));
    m_allan->setAccessibleName(QStringLiteral("Jitter analysis, Allan deviation"));

    auto *controls = new QHBoxLayout;
    controls->addWidget(m_open);
    controls->addWidget(m_segment);
    controls->addWidget(m_info, 1);
    auto *plots = new QSplitter(Qt::Vertical, this);
    plots->addWidget(m_spectrum);
    plots->addWidget(m_allan);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(m_table);
    layout->addWidget(plots, 1);

    m_liveTimer = new QTimer(this);
    m_liveTimer->setInterval(1000);
    connect(m_liveTimer, &QTimer::timeout, this, [this] {
        if (m_liveChanged)
            analyze();
    });
    connect(m_segment, qOverload<int>(&QSpinBox::valueChanged), this, &JitterAnalysisWidget::analyze);
    QMetaObject::connectSlotsByName(this);
    resize(900, 800);
}

bool JitterAnalysisWidget::loadFile(const QString &path, QString &error)
{
    JitterRecord record;
    if (!RecordReader::readFile(path, record, error))
        return false;
    setRecord(record);
    return true;
}

void JitterAnalysisWidget::setRecord(const JitterRecord &record)
{
    stopLive();
    m_record = record;
    analyze();
}

void JitterAnalysisWidget::startLive(double sampleRate, const QString &unit1, const QString &unit2,
                                     double windowSeconds)
{
    m_record = JitterRecord();
    m_record.sampleRate = sampleRate;
    m_record.sampleRateSource = QStringLiteral("live");
    m_record.positionUnit[0] = unit1;
    m_record.positionUnit[1] = unit2;
    m_window = std::size_t(std::max(1.0, windowSeconds * sampleRate));
    m_live = true;
    m_liveChanged = false;
    m_liveTimer->start();
}

void JitterAnalysisWidget::appendSample(const std::array<double, 4> &positions, const std::array<double, 4> &ranges)
{
    if (!m_live)
        return;
    for (int i = 0; i < 4; ++i) {
        m_record.position[i / 2][i % 2].push_back(positions[std::size_t(i)]);
        m_record.range[i / 2][i % 2].push_back(ranges[std::size_t(i)]);
    }
    // The oldest samples go in blocks, so a sample costs a constant time.
    if (m_record.samples() >= m_window + m_window / 2) {
        const auto drop = long(m_record.samples() - m_window);
        for (auto &stage : m_record.position)
            for (auto &axis : stage)
                axis.erase(axis.begin(), axis.begin() + drop);
        for (auto &stage : m_record.range)
            for (auto &axis : stage)
                axis.erase(axis.begin(), axis.begin() + drop);
    }
    m_liveChanged = true;
}

void JitterAnalysisWidget::stopLive()
{
    m_live = false;
    m_liveTimer->stop();
}

void JitterAnalysisWidget::analyze()
{
    m_liveChanged = false;
    JitterRecord view;
    const JitterRecord *record = &m_record;
    if (m_live && m_record.samples() > m_window) {
        // Only the last window counts; the rest waits to be dropped in a block.
        view.sampleRate = m_record.sampleRate;
        view.positionUnit[0] = m_record.positionUnit[0];
        view.positionUnit[1] = m_record.positionUnit[1];
        const std::size_t skip = m_record.samples() - m_window;
        for (int i = 0; i < 4; ++i) {
            const auto &p = m_record.position[i / 2][i % 2];
            const auto &r = m_record.range[i / 2][i % 2];
            view.position[i / 2][i % 2].assign(p.begin() + long(skip), p.end());
            view.range[i / 2][i % 2].assign(r.begin() + long(skip), r.end());
        }
        record = &view;
    }
    if (record->samples() < 16 || !(record->sampleRate > 0)) {
        m_result.clear();
        m_info->setText(QStringLiteral("Not enough data (%1 samples)").arg(record->samples()));
        showResult();
        return;
    }
    JitterAnalysis::Settings settings;
    settings.segmentLength = m_segment->value();
    m_result = JitterAnalysis::analyze(*record, settings);
    ++m_analyses;
    const Spectrum &s = m_result.front().spectrum;
    m_info->setText(QStringLiteral("%1 samples at %2 Hz (%3 s), resolution %4 Hz")
                        .arg(record->samples())
                        .arg(record->sampleRate, 0, 'g', 4)
                        .arg(record->seconds(), 0, 'f', 1)
                        .arg(s.resolution, 0, 'g', 3));
    showResult();
    emit analyzed();
}

void JitterAnalysisWidget::showResult()
{
    m_table->clearContents();
    for (std::size_t row = 0; row < m_result.size() && row < 4; ++row) {
        const auto &a = m_result[row];
        auto set = [this, row](int column, const QString &text) {
            auto *item = new QTableWidgetItem(text);
            m_table->setItem(int(row), column, item);
            return item;
        };
        set(ColumnRms, figure(a.rms) + QLatin1Char(' ') + a.unit);
        for (std::size_t b = 0; b < a.bands.size() && b < 4; ++b)
            set(ColumnBand1 + int(b), figure(a.bands[b].rms));
        set(ColumnPeak, a.peaks.empty() ? QStringLiteral("none")
                                        : QStringLiteral("%1 Hz").arg(a.peaks.front().frequency, 0, 'f', 2));
        const Headroom &h = a.headroom;
        QTableWidgetItem *item =
            set(ColumnHeadroom, h.valid ? QStringLiteral("%1 V").arg(h.distance, 0, 'f', 2) : QStringLiteral("n/a"));
        if (h.valid) {
            item->setToolTip(QStringLiteral("Actuator at %1 V, %2 V from %3 V; drift %4 V/min; %5")
                                 .arg(h.voltage, 0, 'f', 2)
                                 .arg(h.distance, 0, 'f', 2)
                                 .arg(h.nearestLimit)
                                 .arg(h.drift * 60, 0, 'g', 3)
                                 .arg(duration(h.secondsToLimit)));
            if (h.isWarning())
                item->setBackground(QColor(255, 180, 160));
        }
    }
    JitterPlots::showSpectra(m_spectrum, m_result);
    JitterPlots::showAllan(m_allan, m_result);
}

void JitterAnalysisWidget::on_pushButton_OpenRecording_clicked()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open recording"), QString(),
                                                      QStringLiteral("Recordings (*.csv *.txt *.xls);;All files (*)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!loadFile(path, error))
        QMessageBox::warning(this, QStringLiteral("Jitter analysis"), error);
}
