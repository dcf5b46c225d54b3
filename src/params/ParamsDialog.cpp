#include "params/ParamsDialog.h"

#include "controller/Controller.h"

#include "ui_paramsdialog.h"

#include "app/StartupFlags.h"
#include "detectors/DetectorFactory.h"
#include "display/StreamControl.h"
#include "link/Connection.h"
#include "params/ParamsPause.h"
#include "setup/ConnectionSettings.h"
#include "setup/Settings.h"

#include <QDebug>
#include <QMessageBox>
#include <QShowEvent>

namespace {
constexpr int firstSensitivityFirmware = 31;

bool isPsdIndex(int index)
{
    return index == DetectorPSD || index == DetectorPSD_UV4 || index == DetectorPSD_UV10;
}
} // namespace

ParamsDialog::ParamsDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ParamsDialog)
    , settings(new Settings)
{
    qInfo() << "Constructing ParamsDialog";
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Parameters"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(false);

    stages[0] = {ui->doubleSpinBox_PFactor, ui->radioButton_PFactor_intern, ui->radioButton_PFactor_extern,
                 ui->doubleSpinBox_AdjustX, ui->doubleSpinBox_AdjustY, ui->radioButton_Adjust_intern,
                 ui->radioButton_Adjust_extern, ui->doubleSpinBox_SetHoldX, ui->doubleSpinBox_SetHoldY,
                 ui->pushButton_SetHold, ui->doubleSpinBox_sens_1, ui->radioButton_sensitivity_software,
                 ui->radioButton_sensitivity_extern, ui->comboBox_DetecType, ui->radioButtonPositionInVolt,
                 ui->radioButtonPositionInLength, ui->beamDiameterSpinBox};
    stages[1] = {ui->doubleSpinBox_PFactor_2, ui->radioButton_PFactor_intern_2, ui->radioButton_PFactor_extern_2,
                 ui->doubleSpinBox_AdjustX_2, ui->doubleSpinBox_AdjustY_2, ui->radioButton_Adjust_intern_2,
                 ui->radioButton_Adjust_extern_2, ui->doubleSpinBox_SetHoldX_2, ui->doubleSpinBox_SetHoldY_2,
                 ui->pushButton_SetHold_2, ui->doubleSpinBox_sens_2, ui->radioButton_sensitivity_software_2,
                 ui->radioButton_sensitivity_extern_2, ui->comboBox_DetecType_2, ui->radioButtonPositionInVolt_2,
                 ui->radioButtonPositionInLength_2, ui->beamDiameterSpinBox_2};

    ui->pushButtonApply->setCheckable(false);
    ui->pushButtonCloseParams->setCheckable(false);
    ui->pushButtonRefresh->setCheckable(false);
    ui->pushButtonApply->setDefault(true);
    for (int s = 0; s < 2; ++s) {
        StageWidgets &w = stages[s];
        w.holdX->setReadOnly(true);
        w.holdY->setReadOnly(true);
        w.setHold->setEnabled(false);
        if (!w.inVolt->isChecked())
            press(w.inVolt);
        if (w.type->currentIndex() == DetectorNone) {
            w.inLength->setChecked(false);
            w.beamDiameter->setEnabled(false);
        }
        w.inVolt->setEnabled(false);
        w.inLength->setEnabled(false);
        press(w.sensitivityExternal);
    }
    if (!validIndex()) {
        stages[0].type->setCurrentIndex(DetectorNone);
        stages[1].type->setCurrentIndex(DetectorNone);
    }
    ui->frameBeamOverlay->hide();
    ui->detectorLabel1->hide();
    ui->detectorLabel2->hide();
    ui->lockSubsystemButton->hide();

    ui->nameLabel->setAccessibleName(QStringLiteral("Controller label"));
    ui->partnerLabel->setAccessibleName(QStringLiteral("Second subsystem of the group"));
    for (int s = 0; s < 2; ++s) {
        const QString stage = QStringLiteral(", stage %1").arg(s + 1);
        stages[s].pFactor->setAccessibleName(QStringLiteral("P-factor") + stage);
        stages[s].adjustX->setAccessibleName(QStringLiteral("Adjust-in x") + stage);
        stages[s].adjustY->setAccessibleName(QStringLiteral("Adjust-in y") + stage);
        stages[s].holdX->setAccessibleName(QStringLiteral("Set and Hold x") + stage);
        stages[s].holdY->setAccessibleName(QStringLiteral("Set and Hold y") + stage);
        stages[s].setHold->setAccessibleName(QStringLiteral("Set and Hold") + stage);
        stages[s].sensitivity->setAccessibleName(QStringLiteral("Sensitivity") + stage);
        stages[s].type->setAccessibleName(QStringLiteral("Detector type") + stage);
        stages[s].beamDiameter->setAccessibleName(QStringLiteral("Beam diameter") + stage);
        stages[s].pFactorSoftware->setAccessibleName(QStringLiteral("P-factor software") + stage);
        stages[s].pFactorExternal->setAccessibleName(QStringLiteral("P-factor external") + stage);
        stages[s].adjustSoftware->setAccessibleName(QStringLiteral("Adjust-in software") + stage);
        stages[s].adjustExternal->setAccessibleName(QStringLiteral("Adjust-in external") + stage);
        stages[s].sensitivitySoftware->setAccessibleName(QStringLiteral("Sensitivity software") + stage);
        stages[s].sensitivityExternal->setAccessibleName(QStringLiteral("Sensitivity external") + stage);
    }

    reset();

    infoBox = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Information"),
                              QStringLiteral("An error has occurred."), QMessageBox::Ok, this);
    infoBox->setObjectName(QStringLiteral("paramsInfoBox"));
    infoBox->setDefaultButton(QMessageBox::Ok);
    infoBox->setModal(false);

    ui->pushButtonApply->setFocus();
    qInfo() << "Finished constructing ParamsDialog";
}

ParamsDialog::~ParamsDialog() = default;

void ParamsDialog::attachControllers(QList<Controller *> &connectionList, QList<ControllerStatus> &status)
{
    connections = &connectionList;
    statusList = &status;
}

void ParamsDialog::addStageDetectors(const ConnectionSettings &record)
{
    detectors.append(StageDetectors(record.model[0], record.beamDiameter[0], record.calculation[0],
                                    record.model[1], record.beamDiameter[1], record.calculation[1],
                                    record.pulsedLaser));
}

void ParamsDialog::removeStageDetectors(int index)
{
    if (index < 0 || index >= detectors.size())
        return;
    detectors.removeAt(index);
    if (index == current) {
        close();
        current = detectors.isEmpty() ? -1 : 0;
    } else if (index < current) {
        --current; // still the same controller
    }
}

// ---- Helpers ------------------------------------------------------------------

bool ParamsDialog::validIndex() const
{
    return connections && statusList && current >= 0 && current < connections->size()
           && current < detectors.size() && current < statusList->size();
}

bool ParamsDialog::currentConnected() const
{
    return validIndex() && link()->linkState() == Connection::Connected;
}

Connection *ParamsDialog::link() const
{
    return &connections->at(current)->link();
}

ControllerStatus *ParamsDialog::status(int index) const
{
    if (!statusList || index < 0 || index >= statusList->size())
        return nullptr;
    return &(*statusList)[index];
}

QByteArray ParamsDialog::ask(Connection *connection, void (Connection::*sender)(const QByteArray &),
                             const QByteArray &arguments)
{
    (connection->*sender)(arguments);
    QByteArray reply;
    connection->waitForReply(reply);
    return reply;
}

QByteArray ParamsDialog::ask(Connection *connection, void (Connection::*sender)())
{
    (connection->*sender)();
    QByteArray reply;
    connection->waitForReply(reply);
    return reply;
}

bool ParamsDialog::isGood(const QByteArray &reply)
{
    return StreamControl::isGoodReply(reply);
}

QByteArray ParamsDialog::stageArgument(int stage)
{
    return QByteArray(1, char(stage)) + ';';
}

QByteArray ParamsDialog::valueArgument(int stage, double value)
{
    // Thousandths, truncated toward zero, as 16 bits, high byte first.
    const quint16 raw = quint16(int(value * 1000.0));
    return QByteArray(1, char(stage)) + char(raw >> 8) + char(raw & 0xFF) + ';';
}

QByteArray ParamsDialog::axisArgument(int stage, char axis, double value)
{
    const quint16 raw = quint16(qint16(int(value * 1000.0)));
    return QByteArray(1, char(stage)) + axis + char(raw >> 8) + char(raw & 0xFF) + ';';
}

int ParamsDialog::unsignedAt(const QByteArray &reply, int pos)
{
    return (quint8(reply.at(pos)) << 8) | quint8(reply.at(pos + 1));
}

int ParamsDialog::signedAt(const QByteArray &reply, int pos)
{
    return qint16(quint16(unsignedAt(reply, pos)));
}

void ParamsDialog::report(const QString &message)
{
    infoBox->setInformativeText(message);
    infoBox->show();
    infoBox->raise();
}

// ---- Opening and showing ------------------------------------------------------

void ParamsDialog::reset()
{
    for (StageWidgets &w : stages) {
        w.adjustX->setValue(0);
        w.adjustY->setValue(0);
        w.pFactor->setValue(0); // shows the minimum
        if (!w.adjustExternal->isChecked())
            press(w.adjustExternal);
        if (!w.pFactorExternal->isChecked())
            press(w.pFactorExternal);
    }
}

void ParamsDialog::setDetectorLabels()
{
    const ControllerStatus *st = status(current);
    const auto text = [](bool common) {
        return common ? QStringLiteral("Common") : QStringLiteral("Subsystem");
    };
    ui->detectorLabel1->setText(text(st && st->multiplex1));
    ui->detectorLabel2->setText(text(st && st->multiplex2));
}

void ParamsDialog::openDialog(QString address)
{
    if (isVisible())
        close();
    if (!connections)
        return;
    for (int i = 0; i < connections->size(); ++i) {
        if (connections->at(i)->address() != address)
            continue;
        current = i;
        reset();
        setWindowModality(Qt::WindowModal);
        show();
        raise();
        if (const ControllerStatus *st = status(i))
            ui->nameLabel->setText(st->label);
        setDetectorLabels();
        refresh();
        return;
    }
}

void ParamsDialog::showEvent(QShowEvent *event)
{
    const bool newFirmware = validIndex() && link()->firmwareVersion() >= firstSensitivityFirmware;
    const bool sensitivity = detectorTuning && newFirmware;
    for (QWidget *w : {static_cast<QWidget *>(ui->labelSensitivity), static_cast<QWidget *>(ui->widgetSensitivity),
                       static_cast<QWidget *>(ui->widgetSensitivity_2)})
        w->setVisible(sensitivity);
    if (!sensitivity)
        for (StageWidgets &w : stages)
            if (!w.sensitivityExternal->isChecked())
                press(w.sensitivityExternal);
    ui->frameTrigger->setVisible(newFirmware && link()->triggerCapable());
    adjustSize();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    refresh();
    QDialog::showEvent(event);
}

void ParamsDialog::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    setWindowModality(Qt::NonModal);
}

void ParamsDialog::on_pushButtonCloseParams_clicked()
{
    close();
}

void ParamsDialog::on_pushButtonRefresh_clicked()
{
    if (validIndex())
        refresh();
}

void ParamsDialog::on_pushButtonApply_clicked()
{
    apply();
}

void ParamsDialog::on_pushButtonSave_clicked()
{
    save();
}

void ParamsDialog::on_pushButton_SetHold_clicked()
{
    setHold(1);
}

void ParamsDialog::on_pushButton_SetHold_2_clicked()
{
    setHold(2);
}

// ---- Refresh ------------------------------------------------------------------

void ParamsDialog::readHoldPositions(const QByteArray &sample, int stage)
{
    if (sample.size() <= 24)
        return;
    const int base = stage == 1 ? 4 : 10;
    stages[stage - 1].holdX->setValue(signedAt(sample, base) / 1000.0);
    stages[stage - 1].holdY->setValue(signedAt(sample, base + 2) / 1000.0);
}

void ParamsDialog::refresh()
{
    if (!currentConnected())
        return;
    ui->pushButtonRefresh->setEnabled(false);
    disconnect(ui->pushButtonRefresh, nullptr, this, SLOT(on_pushButtonRefresh_clicked()));
    Connection *c = link();
    ParamsPause pause(c, this);

    const QByteArray flagsReply = ask(c, &Connection::getStatusFlags);
    if (isGood(flagsReply)) {
        const quint8 flags = flagsReply.size() > 2 ? quint8(flagsReply.at(2)) : 0;
        selectSource(Source::PFactor, 1, flags & 0x01);
        selectSource(Source::PFactor, 2, flags & 0x01);
        selectSource(Source::Adjust, 1, flags & 0x02);
        selectSource(Source::Adjust, 2, flags & 0x04);
        stages[0].setHold->setEnabled(!(flags & 0x08) && isPsdIndex(stages[0].type->currentIndex()));
        stages[1].setHold->setEnabled(!(flags & 0x10) && isPsdIndex(stages[1].type->currentIndex()));
    }

    const QByteArray sample = ask(c, &Connection::getStreamSample);
    readHoldPositions(sample, 1);
    readHoldPositions(sample, 2);

    int adjust[4] = {0, 0, 0, 0};
    const char axes[2] = {'x', 'y'};
    for (int i = 0; i < 4; ++i) {
        const QByteArray reply = ask(c, &Connection::getAdjustIn, QByteArray(1, char(i / 2 + 1)) + axes[i % 2] + ';');
        if (isGood(reply) && reply.size() >= 4)
            adjust[i] = signedAt(reply, 2);
    }
    int pFactor[2] = {0, 0};
    for (int s = 0; s < 2; ++s) {
        const QByteArray reply = ask(c, &Connection::getPFactor, stageArgument(s + 1));
        if (isGood(reply) && reply.size() >= 4)
            pFactor[s] = unsignedAt(reply, 2);
    }
    int sensitivity[2] = {0, 0};
    if (c->firmwareVersion() >= firstSensitivityFirmware) {
        for (int s = 0; s < 2; ++s) {
            const QByteArray reply = ask(c, &Connection::getDetectorSensitivity, stageArgument(s + 1));
            if (isGood(reply) && reply.size() >= 4)
                sensitivity[s] = unsignedAt(reply, 2);
        }
        ui->checkBoxDisplayLowRepetitionWithTriggers->setChecked(detectors.at(current).triggerDisplay);
    }

    for (int s = 0; s < 2; ++s) {
        StageWidgets &w = stages[s];
        w.adjustX->setValue(adjust[2 * s] / 1000.0);
        w.adjustY->setValue(adjust[2 * s + 1] / 1000.0);
        w.pFactor->setValue(pFactor[s] / 1000.0);
        if (sensitivity[s] == 0) {
            if (!w.sensitivityExternal->isChecked())
                press(w.sensitivityExternal);
            w.sensitivity->setValue(0.001);
        } else {
            w.sensitivity->setValue(sensitivity[s] / 1000.0);
        }
        const Detector *model = detectors.at(current).stage(s);
        w.beamDiameter->setValue(model->beamDiameter);
        w.type->setCurrentIndex(model->type());
        if (model->canAdjustTarget()) {
            w.adjustSoftware->setEnabled(true);
            w.adjustExternal->setEnabled(true);
            enableSourceValues(Source::Adjust, s + 1, w.adjustSoftware->isChecked());
        } else {
            w.setHold->setEnabled(false);
            w.adjustSoftware->setEnabled(false);
            w.adjustExternal->setEnabled(false);
            enableSourceValues(Source::Adjust, s + 1, false);
        }
    }
    for (int s = 0; s < 2; ++s) {
        StageWidgets &w = stages[s];
        const bool length = detectors.at(current).stage(s)->showsLength();
        if (length && !w.inLength->isChecked())
            press(w.inLength);
        else if (!length && w.inLength->isChecked())
            press(w.inVolt);
    }

    pause.resume();
    connect(ui->pushButtonRefresh, SIGNAL(clicked()), this, SLOT(on_pushButtonRefresh_clicked()), Qt::UniqueConnection);
    ui->pushButtonRefresh->setEnabled(true);
}

// ---- Apply --------------------------------------------------------------------

void ParamsDialog::apply()
{
    if (!currentConnected())
        return;
    ui->pushButtonApply->setEnabled(false);
    disconnect(ui->pushButtonApply, nullptr, this, SLOT(on_pushButtonApply_clicked()));
    Connection *c = link();
    ParamsPause pause(c, this);

    // P-factor: the source is common to both stages.
    bool stage1Failed = false;
    if (stages[0].pFactorSoftware->isChecked()) {
        if (!isGood(ask(c, &Connection::setPFactor, valueArgument(1, stages[0].pFactor->value())))) {
            selectSource(Source::PFactor, 1, false);
            report(QStringLiteral("P-Factor of stage 1 wasn't set!"));
            stage1Failed = true;
        }
    } else if (ask(c, &Connection::setPFactor, valueArgument(1, 0)).isEmpty()) {
        report(QStringLiteral("P-Factor of stage 1 wasn't set external!"));
        stage1Failed = true;
    }
    if (stages[1].pFactorSoftware->isChecked() && !stage1Failed) {
        if (!isGood(ask(c, &Connection::setPFactor, valueArgument(2, stages[1].pFactor->value())))) {
            selectSource(Source::PFactor, 2, false);
            report(QStringLiteral("P-Factor of stage 2 wasn't set!"));
        }
    } else if (ask(c, &Connection::setPFactor, valueArgument(2, 0)).isEmpty()) {
        report(QStringLiteral("P-Factor of stage 2 wasn't set external!"));
    }

    for (int s = 0; s < 2; ++s) {
        StageWidgets &w = stages[s];
        if (w.sensitivitySoftware->isChecked()) {
            if (!isGood(ask(c, &Connection::setDetectorSensitivity, valueArgument(s + 1, w.sensitivity->value())))) {
                selectSource(Source::Sensitivity, s + 1, false);
                w.sensitivity->setValue(0.001);
                report(QStringLiteral("Sensitivity cable of detector %1 is not connected!").arg(s + 1));
            }
        } else {
            ask(c, &Connection::setDetectorSensitivity, valueArgument(s + 1, 0));
        }
    }

    StageDetectors &entry = detectors[current];
    for (int s = 0; s < 2; ++s) {
        StageWidgets &w = stages[s];
        entry.stage(s)->beamDiameter = w.beamDiameter->value();
        entry.setDetector(s, w.type->currentIndex());
        const bool software = w.adjustSoftware->isChecked() && entry.stage(s)->canAdjustTarget();
        const char axes[2] = {'x', 'y'};
        for (int a = 0; a < 2; ++a) {
            const double value = software ? (a == 0 ? w.adjustX : w.adjustY)->value() : 0.0;
            if (!isGood(ask(c, &Connection::setAdjustIn, axisArgument(s + 1, axes[a], value)))) {
                selectSource(Source::Adjust, s + 1, false);
                report(QStringLiteral("%1-adjust value of stage %2 has not been accepted ").arg(axes[a]).arg(s + 1));
            }
        }
    }
    for (int s = 0; s < 2; ++s)
        entry.stage(s)->calculation =
            (stages[s].inLength->isChecked() && stages[s].type->currentIndex() != DetectorNone) ? 1 : 0;

    const bool trigger = ui->checkBoxDisplayLowRepetitionWithTriggers->isChecked();
    c->setTriggerMode(trigger);
    entry.triggerDisplay = trigger;

    pause.resume();
    connect(ui->pushButtonApply, SIGNAL(clicked()), this, SLOT(on_pushButtonApply_clicked()), Qt::UniqueConnection);
    ui->pushButtonApply->setEnabled(true);
}

// ---- Set & Hold and Save ------------------------------------------------------

void ParamsDialog::updateDetectorFromControls(int s)
{
    StageDetectors &entry = detectors[current];
    entry.setDetector(s, stages[s].type->currentIndex());
    entry.stage(s)->beamDiameter = stages[s].beamDiameter->value();
    entry.stage(s)->calculation =
        (stages[s].inLength->isChecked() && stages[s].type->currentIndex() != DetectorNone) ? 1 : 0;
}

void ParamsDialog::setHold(int stage)
{
    if (!validIndex())
        return;
    StageWidgets &w = stages[stage - 1];
    w.holdX->setReadOnly(true);
    w.holdY->setReadOnly(true);
    Connection *c = link();
    {
        ParamsPause pause(c, this);
        QByteArray holdReply;
        if (stage == 1) {
            readHoldPositions(ask(c, &Connection::getStreamSample), 1);
            holdReply = ask(c, &Connection::startSetHold, stageArgument(1));
        } else {
            holdReply = ask(c, &Connection::startSetHold, stageArgument(2));
            readHoldPositions(ask(c, &Connection::getStreamSample), 2);
        }
        if (holdReply.size() >= 2 && holdReply.at(0) == '\x00')
            w.setHold->setEnabled(false);
        pause.resume();
    }
    updateDetectorFromControls(stage - 1);
    refresh();
}

void ParamsDialog::save()
{
    if (!currentConnected())
        return;
    Connection *c = link();
    ParamsPause pause(c, this);
    const QByteArray idReply = ask(c, &Connection::getControllerId);
    QString id = QString::fromUtf8(idReply.constData(), idReply.size());
    id = id.mid(2);
    id.chop(1);
    if (id.isEmpty()) {
        // Without its ID the settings could not be found again.
        report(QStringLiteral("The controller ID could not be read; the detector settings were not saved."));
        return;
    }

    ConnectionSettings record;
    setFixedText(record.id, id);
    const StageDetectors &entry = detectors.at(current);
    for (int s = 0; s < 2; ++s) {
        record.calculation[s] = entry.stage(s)->calculation;
        record.beamDiameter[s] = entry.stage(s)->beamDiameter;
        record.model[s] = entry.stage(s)->type();
    }
    record.pulsedLaser = entry.triggerDisplay;

    // A file that cannot be read is never replaced: saveDetectorFile refuses
    // to merge into it, and the user is told.
    if (settings->loadFile(setupPath))
        settings->storeDetectorSettings(record);
    else
        settings->setConnections({record});
    if (!settings->saveDetectorFile(setupPath))
        report(QStringLiteral("The detector settings could not be saved: the setup file %1 could not be read "
                              "or written. It has been left unchanged.")
                   .arg(Settings::resolvePath(setupPath)));
    pause.resume();
}
