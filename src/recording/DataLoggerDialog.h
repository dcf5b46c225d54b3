#pragma once

#include <QDialog>
#include <QTimer>

namespace Ui {
class DataLoggerDialog;
}
class LargeTimer;
class QLabel;

// The "Data recording" dialog: file, save rate, automatic stop time, the
// expected size of the recording, one file or one per displayed controller.
// It starts and stops a recording only through its signals; the main window
// opens and writes the files.
class DataLoggerDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr quint32 maxTimerChunk = 2147483647u;

    explicit DataLoggerDialog(QWidget *parent = nullptr);
    ~DataLoggerDialog() override;

    // Hands over the sampling rate: it becomes the save rate and its upper
    // bound. Above 500 Hz (trigger mode) the field is disabled and emptied:
    // every sample is saved then.
    void applySamplingRate(int rate);
    // Allows or forbids starting (a controller is displayed or not); a
    // running recording is stopped when starting is forbidden.
    void enableStart(bool enable);
    int saveRate() const { return m_saveRate; }
    int recordSeconds() const { return m_recordSeconds; }
    bool isRecording() const { return m_stopTimer != nullptr; }
    // Tells that part of the recording ended early (a controller went
    // away); notices add up until the next start. Empty: none shown.
    void showNotice(const QString &text);
    QString notice() const;
    // The automatic stop timer; null while no recording runs.
    LargeTimer *stopTimer() const { return m_stopTimer; }

    // Expected data lines and bytes of a recording (64-bit arithmetic).
    static qint64 dataBlocks(int saveRate, qint64 seconds) { return qint64(saveRate) * seconds; }

signals:
    void dataRecordingStarted(QString path, bool multi);
    void dataRecordingStopped();

public slots:
    void emitStartSignal();
    void emitStopSignal();
    void startTimerSaving();
    void updateProgressBar();

private slots:
    void on_pushButton_SaveAs_clicked();
    void updateEstimate();

private:
    void setEditable(bool editable);
    void fitNotice();

    Ui::DataLoggerDialog *ui;
    QLabel *noticeLabel = nullptr;
    int m_saveRate = 100;
    int m_recordSeconds = 60;
    bool m_startAllowed = true;
    LargeTimer *m_stopTimer = nullptr;
    QTimer m_progressTimer;
};
