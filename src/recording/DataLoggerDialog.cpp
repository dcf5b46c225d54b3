#include "DataLoggerDialog.h"

#include "ui_dataloggerdialog.h"

#include "LargeTimer.h"
#include "RecordNames.h"
#include "app/StartupFlags.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <cmath>

DataLoggerDialog::DataLoggerDialog(QWidget *parent) : QDialog(parent), ui(new Ui::DataLoggerDialog)
{
    qInfo("Constructing DataLoggerDialog");
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(false);
    noticeLabel = new QLabel(this);
    noticeLabel->setObjectName(QStringLiteral("lblRecordingNotice"));
    noticeLabel->setStyleSheet(QStringLiteral("QLabel { color: rgb(190, 30, 20); font-weight: bold; }"));
    noticeLabel->setWordWrap(true);
    ui->verticalLayout->insertWidget(ui->verticalLayout->count() - 1, noticeLabel);
    noticeLabel->hide();
    fitNotice();
    m_saveRate = ui->spinBox_SaveRate->value();

    m_progressTimer.setInterval(1000);
    connect(&m_progressTimer, &QTimer::timeout, this, &DataLoggerDialog::updateProgressBar);
    connect(ui->pushButton_Start, &QPushButton::clicked, this, &DataLoggerDialog::emitStartSignal);
    connect(ui->pushButton_Stop, &QPushButton::clicked, this, &DataLoggerDialog::emitStopSignal);
    connect(ui->pushButton_Close, &QPushButton::clicked, this, &QDialog::close);
    connect(ui->spinBox_SaveRate, QOverload<int>::of(&QSpinBox::valueChanged), this, [this](int value) {
        m_saveRate = value;
        updateEstimate();
    });
    connect(ui->lineEdit_RecordTime, &QLineEdit::textChanged, this, &DataLoggerDialog::updateEstimate);
    updateEstimate();
    ui->pushButton_SaveAs->setFocus();
    qInfo("Finished constructing DataLoggerDialog");
}

DataLoggerDialog::~DataLoggerDialog()
{
    delete ui;
}

void DataLoggerDialog::updateEstimate()
{
    m_recordSeconds = int(RecordNames::recordSeconds(ui->lineEdit_RecordTime->text()));
    const qint64 blocks = dataBlocks(m_saveRate, m_recordSeconds);
    const qint64 bytes = blocks * RecordNames::bytesPerLine;
    ui->lineEdit_DataBlocks->setText(QString::number(blocks));
    ui->lineEdit_FileSize->setText(QString::number(double(bytes) / 1048576.0, 'f', 1));
    ui->lblWarningLargeFile->setVisible(bytes > RecordNames::largeFileBytes);
}

void DataLoggerDialog::on_pushButton_SaveAs_clicked()
{
    QFileDialog dialog(this, QStringLiteral("Save data to file"), dataDirectory.filePath(QStringLiteral("Data")));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Select"));
    dialog.setNameFilter(QStringLiteral("*.csv\n *.txt\n  *.xls\n *.*"));
    dialog.selectFile(RecordNames::proposedFileName());
    dialog.setOption(QFileDialog::DontConfirmOverwrite); // asked at the start
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        ui->lineEdit_FileName->setText(dialog.selectedFiles().constFirst());
    else
        ui->lineEdit_FileName->clear();
}

void DataLoggerDialog::emitStartSignal()
{
    const QString typed = ui->lineEdit_FileName->text();
    if (typed.isEmpty()) {
        QMessageBox::critical(this, QStringLiteral("Error"),
                              QStringLiteral("File name missing.\n\nPlease enter a name and try it again."),
                              QMessageBox::Ok);
        return;
    }
    const QString path = RecordNames::completePath(typed, dataDirectory.path());
    if (QFileInfo::exists(path)) {
        const auto answer = QMessageBox::question(
            this, QStringLiteral("File exists!"),
            QStringLiteral("File\n%1\n already exists!\n\nOverwrite the file?").arg(path),
            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
        if (answer != QMessageBox::Ok)
            return;
    }
    ui->lineEdit_FileName->setText(path);
    showNotice(QString());
    ui->pushButton_Stop->setEnabled(true);
    ui->pushButton_SaveAs->setEnabled(false);
    setEditable(false);
    ui->pushButton_Start->setEnabled(false);
    ui->progressBar->setEnabled(true);

    delete m_stopTimer;
    m_stopTimer = new LargeTimer(this, maxTimerChunk);
    m_stopTimer->interval = 0;
    m_stopTimer->setSingleShot(true);
    connect(m_stopTimer, &LargeTimer::timeout, this, &DataLoggerDialog::emitStopSignal);
    m_progressTimer.start();
    updateProgressBar();
    emit dataRecordingStarted(path, ui->checkBox->isChecked());
}

void DataLoggerDialog::startTimerSaving()
{
    if (m_stopTimer)
        m_stopTimer->start(quint32(m_recordSeconds) * 1000u);
}

void DataLoggerDialog::emitStopSignal()
{
    ui->pushButton_Stop->setEnabled(false);
    ui->pushButton_SaveAs->setEnabled(true);
    setEditable(true);
    ui->pushButton_Start->setEnabled(m_startAllowed);
    ui->progressBar->setEnabled(false);
    updateProgressBar();
    m_progressTimer.stop();
    if (m_stopTimer) {
        m_stopTimer->stop();
        m_stopTimer->deleteLater();
        m_stopTimer = nullptr;
    }
    emit dataRecordingStopped();
}

void DataLoggerDialog::updateProgressBar()
{
    if (!m_stopTimer || m_stopTimer->interval == 0)
        return;
    const double done = 1.0 - double(m_stopTimer->remainingTime()) / double(m_stopTimer->interval);
    ui->progressBar->setValue(int(std::lround(qBound(0.0, done, 1.0) * 100.0)));
}

void DataLoggerDialog::applySamplingRate(int rate)
{
    m_saveRate = rate;
    ui->spinBox_SaveRate->setMaximum(rate);
    ui->spinBox_SaveRate->setValue(rate);
    const bool selectable = rate <= 500;
    ui->spinBox_SaveRate->setEnabled(selectable);
    if (!selectable)
        ui->spinBox_SaveRate->clear();
    m_saveRate = rate;
    updateEstimate();
}

void DataLoggerDialog::enableStart(bool enable)
{
    if (!enable && m_stopTimer)
        emitStopSignal();
    m_startAllowed = enable;
    ui->pushButton_Start->setEnabled(enable && !m_stopTimer);
}

void DataLoggerDialog::setEditable(bool editable)
{
    ui->lineEdit_FileName->setReadOnly(!editable);
    ui->spinBox_SaveRate->setReadOnly(!editable);
    ui->lineEdit_RecordTime->setReadOnly(!editable);
}

void DataLoggerDialog::showNotice(const QString &text)
{
    if (text.isEmpty()) {
        noticeLabel->clear();
        noticeLabel->hide();
    } else {
        const QString before = noticeLabel->text();
        noticeLabel->setText(before.isEmpty() ? text : before + QLatin1Char('\n') + text);
        noticeLabel->show();
    }
    noticeLabel->setAccessibleName(noticeLabel->text());
    fitNotice();
}

QString DataLoggerDialog::notice() const
{
    return noticeLabel->text();
}

// The dialog has a fixed size; it grows by the notice while one is shown.
void DataLoggerDialog::fitNotice()
{
    const int extra = noticeLabel->isHidden() ? 0 : noticeLabel->heightForWidth(512 - 24) + 8;
    setFixedSize(512, 244 + extra);
}
