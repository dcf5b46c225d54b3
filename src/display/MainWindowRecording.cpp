// The recording side of the main window: starting and stopping a recording
// from the recording dialog and the lamp and label that show it. The
// recorder decides which samples are written; the display tick hands it
// every processed sample.

#include "display/MainWindow.h"

#include "display/LinkedSpinBox.h"
#include "display/MainToolBar.h"
#include "display/WindowStatus.h"
#include "link/Connection.h"
#include "recording/DataLoggerDialog.h"

#include <QAction>
#include <QDebug>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>

namespace {
const QString recordingOnText = QStringLiteral("Data recording enabled");
const QString recordingOffText = QStringLiteral("Data recording disabled");
}

bool MainWindow::recordingEnabled() const
{
    return tools->recordingLabel()->text() == recordingOnText;
}

void MainWindow::setRecordingShown(bool enabled)
{
    if (recordingEnabled() == enabled)
        return;
    tools->recordingLamp()->setPixmap(
        QPixmap(enabled ? QStringLiteral(":/images/green_light.png") : QStringLiteral(":/images/red_light.png")));
    tools->recordingLabel()->setText(enabled ? recordingOnText : recordingOffText);
}

void MainWindow::startDataRecordingFromDialog(QString path, bool multiSave)
{
    if (recordingEnabled() || records.isRecording()) {
        emit stopRecording();
        return;
    }
    if (!tools->startAction()->isChecked()) {
        tools->startAction()->setChecked(true);
        startStopDataAcquisition();
    }
    const int samplingRate = tools->samplingRate()->value();
    if (samplingRate < recordingDialog->saveRate())
        recordingDialog->applySamplingRate(samplingRate);

    // One source per displayed controller, in display order; without one
    // file per controller the recorder keeps only the first (the active one).
    QVector<RecordSource> sources;
    for (int c : registry.displayed) {
        const Connection *link = registry.link(c);
        const ControllerStatus &status = registry.controllerStatus.at(c);
        RecordSource source;
        source.connection = c;
        source.info.controllerId = status.controllerId;
        source.info.label = link->label();
        source.info.address = link->address();
        source.info.firmware = link->firmwareVersion();
        source.info.detectors = registry.stageDetectors.at(c);
        // The total survives the stream restarts of stage commands during a
        // recording; the metadata gets the difference at the stop.
        source.storeDroppedAtStart = link->droppedSamplesTotal();
        sources << source;
    }
    if (!records.start(path, multiSave, sources, samplingRate, recordingDialog->saveRate())) {
        qWarning().noquote() << "Recording not started:" << records.errorString();
        auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Data recording"),
                                    QStringLiteral("The recording could not be started.\n\n%1").arg(records.errorString()),
                                    QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("recordingStartFailedBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        emit stopRecording();
        return;
    }
    qInfo().noquote() << "Recording to" << records.filePaths().join(QStringLiteral(", "));
    emit startTimer();
    setRecordingShown(true);
}

void MainWindow::stopDataRecordingFromDialog()
{
    setRecordingShown(false);
    if (records.isRecording()) {
        qInfo().noquote() << "Recording stopped after" << records.linesWritten() << "lines";
        records.stop([this](int c) {
            return c >= 0 && c < registry.count() ? registry.link(c)->droppedSamplesTotal() : 0;
        });
    }
}

void MainWindow::recordingFailed(const QString &message)
{
    qWarning().noquote() << "Recording failed:" << message;
    status->warn(message.section(QLatin1Char('\n'), 0, 0));
    auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Data recording"),
                                QStringLiteral("The recording was stopped.\n\n%1").arg(message), QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("recordingFailedBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    // The acquisition goes on; only the recording ends.
    if (recordingDialog->isRecording())
        recordingDialog->emitStopSignal();
    else
        stopDataRecordingFromDialog();
}
