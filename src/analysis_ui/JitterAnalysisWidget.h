#pragma once

#include "analysis/JitterAnalysis.h"

#include <QWidget>

#include <array>

class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;
class QwtPlot;

// The jitter analysis of one controller: spectra with cumulative RMS, Allan
// deviation and a table of RMS, band RMS, spectral peak and actuator headroom
// per stage and axis. Fed either with a whole record (a recording file or
// setRecord) or live, sample by sample, into a rolling record that is
// analysed about once a second from a timer, never in the caller's path.
class JitterAnalysisWidget : public QWidget
{
    Q_OBJECT
public:
    enum Column { ColumnRms, ColumnBand1, ColumnBand2, ColumnBand3, ColumnBand4, ColumnPeak, ColumnHeadroom, ColumnCount };

    explicit JitterAnalysisWidget(QWidget *parent = nullptr);

    // Analyses a recording file; false with a message when it cannot be read.
    bool loadFile(const QString &path, QString &error);
    void setRecord(const JitterRecord &record);

    // Live input: starts a rolling record of the last windowSeconds at
    // sampleRate Hz with the given position units, then takes samples
    // (positions x1, y1, x2, y2 and actuator voltages rx1, ry1, rx2, ry2).
    void startLive(double sampleRate, const QString &unit1, const QString &unit2, double windowSeconds = 60.0);
    void appendSample(const std::array<double, 4> &positions, const std::array<double, 4> &ranges);
    void stopLive();
    bool isLive() const { return m_live; }

    const JitterRecord &record() const { return m_record; }
    const std::vector<JitterAnalysis::Axis> &result() const { return m_result; }
    int analyses() const { return m_analyses; }

public slots:
    void analyze();

signals:
    void analyzed();

private slots:
    void on_pushButton_OpenRecording_clicked();

private:
    void showResult();

    QPushButton *m_open;
    QSpinBox *m_segment;
    QLabel *m_info;
    QTableWidget *m_table;
    QwtPlot *m_spectrum;
    QwtPlot *m_allan;
    QTimer *m_liveTimer;
    JitterRecord m_record;
    std::vector<JitterAnalysis::Axis> m_result;
    bool m_live = false;
    bool m_liveChanged = false;
    std::size_t m_window = 0; // samples kept live
    int m_analyses = 0;
};
