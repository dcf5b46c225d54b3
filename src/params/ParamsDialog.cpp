#include "params/ParamsDialog.h"

#include "controller/Controller.h"

#include "ui_paramsdialog.h"

#include "app/StartupFlags.h"
#include "detectors/DetectorFactory.h"
#include "link/Connection.h"
#include "setup/ConnectionSettings.h"
#include "setup/Settings.h"

#include <QDebug>
#include <QMessageBox>
#include <QShowEvent>

namespace {
constexpr int firstSensitivityFirmware = 31;
const QString dialogTitle = QStringLiteral("Parameters");
const QString busySuffix = QStringLiteral(" - Busy...");
} // namespace

ParamsDialog::ParamsDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ParamsDialog)
    , settings(new Settings)
{
    qInfo() << "Constructing ParamsDialog";
    ui->setupUi(this);
    setWindowTitle(dialogTitle);
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
        allow(w.setHold, false);
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
    for (QPushButton *button : {ui->alignPushButton, ui->lockSubsystemButton, ui->stabPushButton, ui->stab2PushButton})
        allowed.insert(button, button->isEnabled());

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
    return validIndex() && controller()->isConnected();
}

Controller *ParamsDialog::controller() const
{
    return validIndex() ? connections->at(current) : nullptr;
}

ControllerStatus *ParamsDialog::status(int index) const
{
    if (!statusList || index < 0 || index >= statusList->size())
        return nullptr;
    return &(*statusList)[index];
}

ControllerStatus *ParamsDialog::statusOf(Controller *c) const
{
    return connections ? status(connections->indexOf(c)) : nullptr;
}

bool ParamsDialog::isBusy() const
{
    return outstanding > 0 || (watched && watched->isBusy());
}

bool ParamsDialog::stillCurrent(Controller *c, unsigned sentIn) const
{
    return sentIn == opening && controller() == c;
}

void ParamsDialog::watchController()
{
    Controller *c = controller();
    if (watched == c)
        return;
    if (watched)
        disconnect(watched, &Controller::busyChanged, this, nullptr);
    watched = c;
    if (watched)
        connect(watched, &Controller::busyChanged, this, [this] { showBusy(); });
    showBusy();
}

void ParamsDialog::showBusy()
{
    const bool busy = isBusy();
    for (QPushButton *button : {ui->pushButtonRefresh, ui->pushButtonApply, ui->pushButtonSave})
        button->setEnabled(!busy);
    for (auto it = allowed.cbegin(); it != allowed.cend(); ++it)
        it.key()->setEnabled(it.value() && !busy);
    setWindowTitle(busy ? dialogTitle + busySuffix : dialogTitle);
}

void ParamsDialog::allow(QPushButton *button, bool on)
{
    allowed.insert(button, on);
    button->setEnabled(on && !isBusy());
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
        ++opening; // outcomes for an earlier opening are not shown
        outstanding = 0;
        watchController();
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
    watchController();
    const Connection *link = validIndex() ? &controller()->link() : nullptr;
    const bool newFirmware = link && link->firmwareVersion() >= firstSensitivityFirmware;
    const bool sensitivity = detectorTuning && newFirmware;
    for (QWidget *w : {static_cast<QWidget *>(ui->labelSensitivity), static_cast<QWidget *>(ui->widgetSensitivity),
                       static_cast<QWidget *>(ui->widgetSensitivity_2)})
        w->setVisible(sensitivity);
    if (!sensitivity)
        for (StageWidgets &w : stages)
            if (!w.sensitivityExternal->isChecked())
                press(w.sensitivityExternal);
    ui->frameTrigger->setVisible(newFirmware && link->triggerCapable());
    adjustSize();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    refresh();
    QDialog::showEvent(event);
}

void ParamsDialog::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    setWindowModality(Qt::NonModal);
    // What is still due for this opening is not shown any more.
    ++opening;
    outstanding = 0;
    showBusy();
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

