// The controller actions of the parameters dialog: Refresh, Apply, Set & Hold
// and Save. Each gathers its inputs from the widgets, queues one request
// (ParameterSequences) on the current controller and shows the outcome when
// it arrives.

#include "params/ParamsDialog.h"

#include "controller/Controller.h"
#include "controller/ParameterSequences.h"

#include "ui_paramsdialog.h"

#include "detectors/DetectorFactory.h"
#include "setup/ConnectionSettings.h"
#include "setup/Settings.h"

#include <QMessageBox>

namespace {
bool isPsdIndex(int index)
{
    return index == DetectorPSD || index == DetectorPSD_UV4 || index == DetectorPSD_UV10;
}
} // namespace

// ---- Refresh ------------------------------------------------------------------

void ParamsDialog::readHoldPositions(const QByteArray &sample, int stage)
{
    int x = 0, y = 0;
    if (!ParameterSequences::holdPosition(sample, stage, x, y))
        return;
    stages[stage - 1].holdX->setValue(x / 1000.0);
    stages[stage - 1].holdY->setValue(y / 1000.0);
}

void ParamsDialog::refresh()
{
    if (!currentConnected())
        return;
    Controller *c = controller();
    whenDone(c->request([c](Connection &link) {
                 const ParameterSequences::Reading reading = ParameterSequences::read(link);
                 c->reportStreamRestart(reading.streamResumed);
                 return reading;
             }),
             [this](const ParameterSequences::Reading &reading) { showReading(reading); });
}

void ParamsDialog::showReading(const ParameterSequences::Reading &r)
{
    if (r.flagsGood) {
        selectSource(Source::PFactor, 1, r.flags.pFactorFromSoftware);
        selectSource(Source::PFactor, 2, r.flags.pFactorFromSoftware);
        selectSource(Source::Adjust, 1, r.flags.adjustFromSoftware[0]);
        selectSource(Source::Adjust, 2, r.flags.adjustFromSoftware[1]);
        for (int s = 0; s < 2; ++s)
            allow(stages[s].setHold, !r.flags.stabilizationOn[s] && isPsdIndex(stages[s].type->currentIndex()));
    }
    readHoldPositions(r.sample, 1);
    readHoldPositions(r.sample, 2);
    if (r.sensitivityRead)
        ui->checkBoxDisplayLowRepetitionWithTriggers->setChecked(detectors.at(current).triggerDisplay);

    for (int s = 0; s < 2; ++s) {
        StageWidgets &w = stages[s];
        w.adjustX->setValue(r.adjust[2 * s] / 1000.0);
        w.adjustY->setValue(r.adjust[2 * s + 1] / 1000.0);
        w.pFactor->setValue(r.pFactor[s] / 1000.0);
        if (r.sensitivity[s] == 0) {
            if (!w.sensitivityExternal->isChecked())
                press(w.sensitivityExternal);
            w.sensitivity->setValue(0.001);
        } else {
            w.sensitivity->setValue(r.sensitivity[s] / 1000.0);
        }
        const Detector *model = detectors.at(current).stage(s);
        w.beamDiameter->setValue(model->beamDiameter);
        w.type->setCurrentIndex(model->type());
        if (model->canAdjustTarget()) {
            w.adjustSoftware->setEnabled(true);
            w.adjustExternal->setEnabled(true);
            enableSourceValues(Source::Adjust, s + 1, w.adjustSoftware->isChecked());
        } else {
            allow(w.setHold, false);
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
}

// ---- Apply --------------------------------------------------------------------

void ParamsDialog::apply()
{
    if (!currentConnected())
        return;
    ParameterSequences::ApplyInputs in;
    StageDetectors &entry = detectors[current];
    for (int s = 0; s < 2; ++s) {
        StageWidgets &w = stages[s];
        in.pFactorSoftware[s] = w.pFactorSoftware->isChecked();
        in.pFactor[s] = w.pFactor->value();
        in.sensitivitySoftware[s] = w.sensitivitySoftware->isChecked();
        in.sensitivity[s] = w.sensitivity->value();
        // The new detector decides whether a software target can be sent.
        entry.stage(s)->beamDiameter = w.beamDiameter->value();
        entry.setDetector(s, w.type->currentIndex());
        in.adjustSoftware[s] = w.adjustSoftware->isChecked() && entry.stage(s)->canAdjustTarget();
        in.adjust[s][0] = w.adjustX->value();
        in.adjust[s][1] = w.adjustY->value();
    }
    for (int s = 0; s < 2; ++s)
        entry.stage(s)->calculation =
            (stages[s].inLength->isChecked() && stages[s].type->currentIndex() != DetectorNone) ? 1 : 0;
    in.triggerMode = ui->checkBoxDisplayLowRepetitionWithTriggers->isChecked();
    entry.triggerDisplay = in.triggerMode;

    Controller *c = controller();
    whenDone(c->request([c, in](Connection &link) {
                 const ParameterSequences::ApplyOutcome outcome = ParameterSequences::apply(link, in);
                 c->reportStreamRestart(outcome.streamResumed);
                 return outcome;
             }),
             [this](const ParameterSequences::ApplyOutcome &outcome) { showApplied(outcome); });
}

void ParamsDialog::showApplied(const ParameterSequences::ApplyOutcome &outcome)
{
    using Failure = ParameterSequences::ApplyFailure;
    // In the order the steps ran: the box shows the last message.
    for (const Failure &f : outcome.failures) {
        switch (f.what) {
        case Failure::PFactor:
            selectSource(Source::PFactor, f.stage, false);
            report(QStringLiteral("P-Factor of stage %1 wasn't set!").arg(f.stage));
            break;
        case Failure::PFactorExternal:
            report(QStringLiteral("P-Factor of stage %1 wasn't set external!").arg(f.stage));
            break;
        case Failure::Sensitivity:
            selectSource(Source::Sensitivity, f.stage, false);
            stages[f.stage - 1].sensitivity->setValue(0.001);
            report(QStringLiteral("Sensitivity cable of detector %1 is not connected!").arg(f.stage));
            break;
        case Failure::AdjustX:
        case Failure::AdjustY:
            selectSource(Source::Adjust, f.stage, false);
            report(QStringLiteral("%1-adjust value of stage %2 has not been accepted ")
                       .arg(f.what == Failure::AdjustX ? 'x' : 'y')
                       .arg(f.stage));
            break;
        }
    }
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
    Controller *c = controller();
    whenDone(c->request([c, stage](Connection &link) {
                 const ParameterSequences::HoldOutcome outcome = ParameterSequences::setHold(link, stage);
                 c->reportStreamRestart(outcome.streamResumed);
                 return outcome;
             }),
             [this, stage](const ParameterSequences::HoldOutcome &outcome) {
                 readHoldPositions(outcome.sample, stage);
                 if (outcome.held)
                     allow(stages[stage - 1].setHold, false);
                 updateDetectorFromControls(stage - 1);
                 refresh();
             });
}

void ParamsDialog::save()
{
    if (!currentConnected())
        return;
    Controller *c = controller();
    whenDone(c->request([c](Connection &link) {
                 const ParameterSequences::IdOutcome outcome = ParameterSequences::readId(link);
                 c->reportStreamRestart(outcome.streamResumed);
                 return outcome;
             }),
             [this](const ParameterSequences::IdOutcome &outcome) {
                 saveRecord(outcome.reply);
             });
}

void ParamsDialog::saveRecord(const QByteArray &idReply)
{
    QString id = QString::fromUtf8(idReply.constData(), idReply.size());
    id = id.mid(2);
    id.chop(1);
    if (id.isEmpty()) {
        // Without its ID the settings could not be found again.
        report(QStringLiteral("The controller ID could not be read; the detector settings were not saved."));
        return;
    }

    ConnectionSettings record;
    record.id = id;
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
}
