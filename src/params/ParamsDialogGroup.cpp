// The group operations of the parameters dialog: two controllers of one group
// share common detectors on one beam path. "Apply positions" hands the
// positions the common detectors see on this controller to its partner as
// adjust-in targets; the lock buttons lock a stage (own or partner's) on the
// beam it sees now, which takes it off the common detectors.

#include "params/ParamsDialog.h"

#include "controller/Controller.h"
#include "controller/ParameterSequences.h"

#include "ui_paramsdialog.h"

#include <array>

namespace {
const char *const partnerMissingText = "The partner system was not found. Please check the group identifications";
const char *const partnerSilentText = "The second subsystem didn't respond. Please retry.";
const char *const commonMissingText = "The values of the common detector were not available. Please retry.";
} // namespace

int ParamsDialog::partnerOf(int index) const
{
    if (!statusList || !connections || index < 0 || index >= statusList->size())
        return -1;
    const int group = statusList->at(index).groupId;
    for (int i = 0; i < statusList->size() && i < connections->size(); ++i) {
        if (i == index || statusList->at(i).groupId != group)
            continue;
        // The first one of the group decides; a partner whose last status
        // poll failed is as good as missing.
        return statusList->at(i).connected ? i : -1;
    }
    return -1;
}

void ParamsDialog::partnerMissing(bool lockToo)
{
    ui->partnerLabel->setText(QStringLiteral("Missing"));
    allow(ui->alignPushButton, false);
    if (lockToo)
        allow(ui->lockSubsystemButton, false);
    report(QString::fromLatin1(partnerMissingText));
}

// "Apply positions" is three requests in a row, each started by the outcome
// of the one before: the partner switches both stages to the common
// detectors (unless they are already), this controller reads the common
// detector positions, and the partner takes them as adjust-in targets. Each
// request pauses and resumes its own controller's stream.
void ParamsDialog::on_alignPushButton_clicked()
{
    if (!validIndex())
        return;
    const int p = partnerOf(current);
    if (p < 0) {
        partnerMissing(false);
        return;
    }
    const ControllerStatus &partnerStatus = statusList->at(p);
    ui->partnerLabel->setText(partnerStatus.label);
    Controller *own = controller();
    Controller *partner = connections->at(p);
    if (partnerStatus.multiplex1 && partnerStatus.multiplex2) {
        readCommonFor(own, partner);
        return;
    }
    whenDone(partner->request([partner](Connection &link) {
                 const ParameterSequences::MultiplexOutcome outcome = ParameterSequences::switchToCommon(link);
                 partner->reportStreamRestart(outcome.streamResumed);
                 return outcome;
             }),
             [this, own, partner](const ParameterSequences::MultiplexOutcome &outcome) {
                 ControllerStatus *st = statusOf(partner);
                 if (!st)
                     return;
                 // A refusal leaves the flag as it was.
                 st->multiplex1 = st->multiplex1 || outcome.switched[0];
                 st->multiplex2 = st->multiplex2 || outcome.switched[1];
                 if (!(st->multiplex1 && st->multiplex2)) {
                     report(QString::fromLatin1(partnerSilentText));
                     return;
                 }
                 readCommonFor(own, partner);
             });
}

void ParamsDialog::readCommonFor(Controller *own, Controller *partner)
{
    whenDone(own->request([own](Connection &link) {
                 const ParameterSequences::CommonOutcome outcome = ParameterSequences::readCommon(link);
                 own->reportStreamRestart(outcome.streamResumed);
                 return outcome;
             }),
             [this, partner](const ParameterSequences::CommonOutcome &outcome) {
                 if (!outcome.available) {
                     report(QString::fromLatin1(commonMissingText));
                     return;
                 }
                 if (statusOf(partner))
                     applyTargets(partner, outcome.values);
             });
}

void ParamsDialog::applyTargets(Controller *partner, const int values[4])
{
    const std::array<int, 4> targets = {values[0], values[1], values[2], values[3]};
    whenDone(partner->request([partner, targets](Connection &link) {
                 const ParameterSequences::TargetsOutcome outcome =
                     ParameterSequences::setTargets(link, targets.data());
                 partner->reportStreamRestart(outcome.streamResumed);
                 return outcome;
             }),
             [this](const ParameterSequences::TargetsOutcome &outcome) {
                 if (outcome.accepted < 4)
                     report(QString::fromLatin1(partnerSilentText));
             });
}

void ParamsDialog::on_lockSubsystemButton_clicked()
{
    if (!validIndex())
        return;
    const int p = partnerOf(current);
    if (p < 0) {
        partnerMissing(true);
        return;
    }
    ui->partnerLabel->setText(statusList->at(p).label);
    Controller *partner = connections->at(p);
    whenDone(partner->request([partner](Connection &link) {
                 const bool both[2] = {true, true};
                 const ParameterSequences::LockOutcome outcome = ParameterSequences::lock(link, both);
                 partner->reportStreamRestart(outcome.streamResumed);
                 return outcome;
             }),
             [this, partner](const ParameterSequences::LockOutcome &outcome) {
                 if (ControllerStatus *st = statusOf(partner)) {
                     for (int s = 0; s < 2; ++s) {
                         (s == 0 ? st->multiplex1 : st->multiplex2) = !outcome.locked[s];
                         if (outcome.locked[s])
                             allow(ui->lockSubsystemButton, false);
                     }
                 }
             });
}

void ParamsDialog::lockOwnStage(int stage)
{
    if (!validIndex())
        return;
    QPushButton *button = stage == 1 ? ui->stabPushButton : ui->stab2PushButton;
    const ControllerStatus &st = statusList->at(current);
    if (!(stage == 1 ? st.multiplex1 : st.multiplex2))
        allow(button, false); // the sequence still runs
    Controller *own = controller();
    whenDone(own->request([own, stage](Connection &link) {
                 const bool which[2] = {stage == 1, stage == 2};
                 const ParameterSequences::LockOutcome outcome = ParameterSequences::lock(link, which);
                 own->reportStreamRestart(outcome.streamResumed);
                 return outcome;
             }),
             [this, own, stage, button](const ParameterSequences::LockOutcome &outcome) {
                 const bool locked = outcome.locked[stage - 1];
                 if (ControllerStatus *ownStatus = statusOf(own))
                     (stage == 1 ? ownStatus->multiplex1 : ownStatus->multiplex2) = !locked;
                 if (locked)
                     allow(button, false);
                 setDetectorLabels();
             });
}

void ParamsDialog::on_stabPushButton_clicked()
{
    lockOwnStage(1);
}

void ParamsDialog::on_stab2PushButton_clicked()
{
    lockOwnStage(2);
}
