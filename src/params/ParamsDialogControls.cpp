// The form's own rules of the parameters dialog: what the detector type
// allows, the unit pairs and the software/external source pairs. Code that
// changes a selection presses the radio button, so these handlers run.

#include "params/ParamsDialog.h"

#include "ui_paramsdialog.h"

#include "detectors/Detector.h"

namespace {
bool isPsdIndex(int index)
{
    return index == DetectorPSD || index == DetectorPSD_UV4 || index == DetectorPSD_UV10;
}
} // namespace

// ---- Type, unit and source pairs ----------------------------------------------

void ParamsDialog::on_comboBox_DetecType_currentIndexChanged(int index)
{
    typeChanged(1, index);
}

void ParamsDialog::on_comboBox_DetecType_2_currentIndexChanged(int index)
{
    typeChanged(2, index);
}

void ParamsDialog::typeChanged(int stage, int index)
{
    StageWidgets &w = stages[stage - 1];
    if (!validIndex()) {
        if (index != DetectorNone)
            w.type->setCurrentIndex(DetectorNone);
        return;
    }
    if (index == DetectorNone) {
        if (w.inLength->isChecked())
            press(w.inVolt);
        w.inVolt->setEnabled(false);
        w.inLength->setEnabled(false);
    } else if (isPsdIndex(index)) {
        const ControllerStatus *st = status(current);
        const bool stabOn = st && (stage == 1 ? st->stabOn1 : st->stabOn2);
        if (!stabOn)
            allow(w.setHold, true);
        w.adjustSoftware->setEnabled(true);
        w.adjustExternal->setEnabled(true);
        if (w.adjustSoftware->isChecked())
            enableSourceValues(Source::Adjust, stage, true);
        w.beamDiameter->setEnabled(false);
        w.inVolt->setEnabled(true);
        w.inLength->setEnabled(true);
    } else {
        w.inVolt->setEnabled(true);
        w.inLength->setEnabled(true);
        allow(w.setHold, false);
        w.adjustSoftware->setEnabled(false);
        w.adjustExternal->setEnabled(false);
        enableSourceValues(Source::Adjust, stage, false);
        if (w.inLength->isChecked())
            w.beamDiameter->setEnabled(true);
    }
}

void ParamsDialog::unitClicked(int stage, bool lengthButton, bool checked)
{
    StageWidgets &w = stages[stage - 1];
    const int type = w.type->currentIndex();
    if (type == DetectorNone) {
        w.inVolt->setChecked(true);
        w.inLength->setChecked(false);
        if (!lengthButton)
            w.inLength->setEnabled(false);
        w.beamDiameter->setEnabled(false);
        return;
    }
    if (lengthButton) {
        if (checked) {
            w.inVolt->setChecked(false);
            w.beamDiameter->setEnabled(type == DetectorQD || type == DetectorWID);
        } else if (!w.inVolt->isChecked()) {
            press(w.inVolt);
        }
    } else {
        if (!checked) {
            if (!w.inLength->isChecked())
                press(w.inLength);
        } else {
            w.inLength->setChecked(false);
            w.beamDiameter->setEnabled(false);
        }
    }
}

void ParamsDialog::on_radioButtonPositionInLength_clicked(bool checked) { unitClicked(1, true, checked); }
void ParamsDialog::on_radioButtonPositionInVolt_clicked(bool checked) { unitClicked(1, false, checked); }
void ParamsDialog::on_radioButtonPositionInLength_2_clicked(bool checked) { unitClicked(2, true, checked); }
void ParamsDialog::on_radioButtonPositionInVolt_2_clicked(bool checked) { unitClicked(2, false, checked); }

QRadioButton *ParamsDialog::sourceButton(Source source, int stage, bool software) const
{
    const StageWidgets &w = stages[stage - 1];
    switch (source) {
    case Source::PFactor:
        return software ? w.pFactorSoftware : w.pFactorExternal;
    case Source::Adjust:
        return software ? w.adjustSoftware : w.adjustExternal;
    case Source::Sensitivity:
        break;
    }
    return software ? w.sensitivitySoftware : w.sensitivityExternal;
}

void ParamsDialog::enableSourceValues(Source source, int stage, bool on)
{
    const StageWidgets &w = stages[stage - 1];
    switch (source) {
    case Source::PFactor:
        w.pFactor->setEnabled(on);
        break;
    case Source::Adjust:
        w.adjustX->setEnabled(on);
        w.adjustY->setEnabled(on);
        break;
    case Source::Sensitivity:
        w.sensitivity->setEnabled(on);
        break;
    }
}

void ParamsDialog::selectSource(Source source, int stage, bool software)
{
    QRadioButton *button = sourceButton(source, stage, software);
    if (!button->isChecked())
        press(button);
}

void ParamsDialog::press(QAbstractButton *button)
{
    // The handlers run even for a pair that is disabled at the moment (a
    // controller's setting is shown whatever the detector type allows).
    const bool enabled = button->isEnabled();
    button->setEnabled(true);
    button->click();
    button->setEnabled(enabled);
}

void ParamsDialog::sourceClicked(Source source, int stage, bool software, bool checked)
{
    QRadioButton *other = sourceButton(source, stage, !software);
    if (current < 0) {
        sourceButton(source, stage, false)->setChecked(true);
        sourceButton(source, stage, true)->setChecked(false);
        return;
    }
    if (checked) {
        other->setChecked(false);
        enableSourceValues(source, stage, software);
        // One P-factor source for both stages.
        if (source == Source::PFactor)
            selectSource(source, stage == 1 ? 2 : 1, software);
    } else if (!other->isChecked()) {
        press(other);
    }
}

void ParamsDialog::on_radioButton_PFactor_intern_clicked(bool c) { sourceClicked(Source::PFactor, 1, true, c); }
void ParamsDialog::on_radioButton_PFactor_extern_clicked(bool c) { sourceClicked(Source::PFactor, 1, false, c); }
void ParamsDialog::on_radioButton_PFactor_intern_2_clicked(bool c) { sourceClicked(Source::PFactor, 2, true, c); }
void ParamsDialog::on_radioButton_PFactor_extern_2_clicked(bool c) { sourceClicked(Source::PFactor, 2, false, c); }
void ParamsDialog::on_radioButton_Adjust_intern_clicked(bool c) { sourceClicked(Source::Adjust, 1, true, c); }
void ParamsDialog::on_radioButton_Adjust_extern_clicked(bool c) { sourceClicked(Source::Adjust, 1, false, c); }
void ParamsDialog::on_radioButton_Adjust_intern_2_clicked(bool c) { sourceClicked(Source::Adjust, 2, true, c); }
void ParamsDialog::on_radioButton_Adjust_extern_2_clicked(bool c) { sourceClicked(Source::Adjust, 2, false, c); }
void ParamsDialog::on_radioButton_sensitivity_software_clicked(bool c) { sourceClicked(Source::Sensitivity, 1, true, c); }
void ParamsDialog::on_radioButton_sensitivity_extern_clicked(bool c) { sourceClicked(Source::Sensitivity, 1, false, c); }
void ParamsDialog::on_radioButton_sensitivity_software_2_clicked(bool c) { sourceClicked(Source::Sensitivity, 2, true, c); }
void ParamsDialog::on_radioButton_sensitivity_extern_2_clicked(bool c) { sourceClicked(Source::Sensitivity, 2, false, c); }
