#include "display/RecordingControl.h"

#include "controller/ControllerRegistry.h"
#include "display/LinkedSpinBox.h"
#include "display/MainToolBar.h"
#include "display/WindowStatus.h"
#include "link/Connection.h"
#include "recording/DataLoggerDialog.h"
#include "recording/Recorder.h"

#include <QAction>
#include <QDebug>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QWidget>

namespace {
const QString recordingOnText = QStringLiteral("Data recording enabled");
const QString recordingOffText = QStringLiteral("Data recording disabled");
}

RecordingControl::RecordingControl(QWidget *window, ControllerRegistry &registry, Recorder &records,
                                   MainToolBar *tools, std::function<void()> startAcquisition)
    : QObject(window)
    , window(window)
    , registry(registry)
    , records(records)
    , tools(tools)
    , startAcquisition(std::move(startAcquisition))
{
    recordingDialog = new DataLoggerDialog(window);
    recordingDialog->setObjectName(QStringLiteral("dataLoggerDialog"));
    connect(recordingDialog, &DataLoggerDialog::dataRecordingStarted, this, &RecordingControl::start);
    connect(recordingDialog, &DataLoggerDialog::dataRecordingStopped, this, &RecordingControl::stop);
    // Queued: the failure is reported from inside the recorder's write.
    connect(&records, &Recorder::writeFailed, this, &RecordingControl::failed, Qt::QueuedConnection);
    records.setOverwriteQuestion([window](const QString &file) {
        return QMessageBox::question(window, QStringLiteral("File with extension exist!"),
                                     QStringLiteral("File\n%1\n already exists!\n\nOverwrite the file?").arg(file),
                                     QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel)
               == QMessageBox::Ok;
    });
}

void RecordingControl::wireMenu(QAction *open, QAction *close)
{
    open->setEnabled(true);
    close->setEnabled(true);
    connect(open, &QAction::triggered, this, &RecordingControl::showDialog);
    connect(close, &QAction::triggered, this, &RecordingControl::closeDialog);
}

void RecordingControl::stopIfRecording()
{
    if (recordingDialog->isRecording() || records.isRecording())
        recordingDialog->emitStopSignal();
}

void RecordingControl::finish()
{
    if (recordingDialog->isRecording())
        recordingDialog->emitStopSignal();
    stop();
}

void RecordingControl::showDialog()
{
    recordingDialog->applySamplingRate(tools->samplingRate()->value());
    recordingDialog->show();
    recordingDialog->raise();
    recordingDialog->activateWindow();
}

void RecordingControl::closeDialog()
{
    if (recordingDialog->isVisible())
        recordingDialog->hide();
}

bool RecordingControl::shownEnabled() const
{
    return tools->recordingLabel()->text() == recordingOnText;
}

void RecordingControl::setShown(bool enabled)
{
    if (shownEnabled() == enabled)
        return;
    tools->recordingLamp()->setPixmap(
        QPixmap(enabled ? QStringLiteral(":/images/green_light.png") : QStringLiteral(":/images/red_light.png")));
    tools->recordingLabel()->setText(enabled ? recordingOnText : recordingOffText);
}

void RecordingControl::start(const QString &path, bool multiSave)
{
    if (shownEnabled() || records.isRecording()) {
        recordingDialog->emitStopSignal();
        return;
    }
    if (!tools->startAction()->isChecked()) {
        tools->startAction()->setChecked(true);
        startAcquisition();
    }
    const int samplingRate = tools->samplingRate()->value();
    if (samplingRate < recordingDialog->saveRate())
        recordingDialog->applySamplingRate(samplingRate);

    // One source per displayed controller, in display order; without one
    // file per controller the recorder keeps only the first (the active one).
    QVector<RecordSource> sources;
    for (int c : registry.displayed) {
        const Connection *link = registry.link(c);
        const ControllerStatus &state = registry.controllerStatus.at(c);
        RecordSource source;
        source.connection = c;
        source.info.controllerId = state.controllerId;
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
                                    QMessageBox::Ok, window);
        box->setObjectName(QStringLiteral("recordingStartFailedBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        recordingDialog->emitStopSignal();
        return;
    }
    qInfo().noquote() << "Recording to" << records.filePaths().join(QStringLiteral(", "));
    recordingDialog->startTimerSaving();
    setShown(true);
}

void RecordingControl::stop()
{
    setShown(false);
    if (records.isRecording()) {
        qInfo().noquote() << "Recording stopped after" << records.linesWritten() << "lines";
        records.stop([this](int c) {
            return c >= 0 && c < registry.count() ? registry.link(c)->droppedSamplesTotal() : 0;
        });
    }
}

void RecordingControl::failed(const QString &message)
{
    qWarning().noquote() << "Recording failed:" << message;
    if (status)
        status->warn(message.section(QLatin1Char('\n'), 0, 0));
    auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Data recording"),
                                QStringLiteral("The recording was stopped.\n\n%1").arg(message), QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("recordingFailedBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    // The acquisition goes on; only the recording ends.
    if (recordingDialog->isRecording())
        recordingDialog->emitStopSignal();
    else
        stop();
}
