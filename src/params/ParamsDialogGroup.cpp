// The group operations of the parameters dialog: two controllers of one group
// share common detectors on one beam path. "Apply positions" hands the
// positions the common detectors see on this controller to its partner as
// adjust-in targets; the lock buttons lock a stage (own or partner's) on the
// beam it sees now, which takes it off the common detectors.

#include "params/ParamsDialog.h"

#include "controller/Controller.h"

#include "ui_paramsdialog.h"

#include "link/Connection.h"
#include "params/ParamsPause.h"

#include <memory>

namespace {
const char *const partnerMissingText = "The partner system was not found. Please check the group identifications";
const char *const partnerSilentText = "The second subsystem didn't respond. Please retry.";
const char *const commonMissingText = "The values of the common detector were not available. Please retry.";
} // namespace

bool ParamsDialog::succeeded(const QByteArray &reply)
{
    return !reply.isEmpty() && reply.at(0) == '\x00';
}

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
    ui->alignPushButton->setEnabled(false);
    if (lockToo)
        ui->lockSubsystemButton->setEnabled(false);
    report(QString::fromLatin1(partnerMissingText));
}

void ParamsDialog::on_alignPushButton_clicked()
{
    if (!validIndex())
        return;
    const int p = partnerOf(current);
    if (p < 0) {
        partnerMissing(false);
        return;
    }
    ControllerStatus &partner = (*statusList)[p];
    ui->partnerLabel->setText(partner.label);
    Connection *own = link();
    Connection *other = &connections->at(p)->link();
    // Resumed in reverse order of construction: own controller first.
    auto partnerPause = std::make_unique<ParamsPause>(other, this);
    auto ownPause = std::make_unique<ParamsPause>(own, this);

    [&] {
        if (!(partner.multiplex1 && partner.multiplex2)) {
            if (succeeded(ask(other, &Connection::setMultiplex, stageArgument(1))))
                partner.multiplex1 = true;
            if (succeeded(ask(other, &Connection::setMultiplex, stageArgument(2))))
                partner.multiplex2 = true;
            if (!(partner.multiplex1 && partner.multiplex2)) {
                report(QString::fromLatin1(partnerSilentText));
                return;
            }
        }
        const QByteArray common = ask(own, &Connection::getCommonDetector);
        if (common.size() < 11 || common.at(0) != '\x00') {
            report(QString::fromLatin1(commonMissingText));
            return;
        }
        const char axes[2] = {'x', 'y'};
        for (int i = 0; i < 4; ++i) {
            const int raw = signedAt(common, 2 + 2 * i);
            const quint16 bits = quint16(qint16(raw));
            const QByteArray arguments =
                QByteArray(1, char(i / 2 + 1)) + axes[i % 2] + char(bits >> 8) + char(bits & 0xFF) + ';';
            if (!isGood(ask(other, &Connection::setAdjustIn, arguments))) {
                report(QString::fromLatin1(partnerSilentText));
                return;
            }
        }
    }();

    ownPause->resume();
    partnerPause->resume();
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
    ControllerStatus &partner = (*statusList)[p];
    ui->partnerLabel->setText(partner.label);
    Connection *other = &connections->at(p)->link();
    ParamsPause pause(other, this);
    const bool locked[2] = {succeeded(ask(other, &Connection::sendSSE, stageArgument(1))),
                            succeeded(ask(other, &Connection::sendSSE, stageArgument(2)))};
    for (int s = 0; s < 2; ++s) {
        bool &flag = s == 0 ? partner.multiplex1 : partner.multiplex2;
        flag = !locked[s];
        if (locked[s])
            ui->lockSubsystemButton->setEnabled(false);
    }
    pause.resume();
}

void ParamsDialog::lockOwnStage(int stage)
{
    if (!validIndex())
        return;
    QPushButton *button = stage == 1 ? ui->stabPushButton : ui->stab2PushButton;
    bool &flag = stage == 1 ? (*statusList)[current].multiplex1 : (*statusList)[current].multiplex2;
    if (!flag)
        button->setEnabled(false);
    Connection *own = link();
    ParamsPause pause(own, this);
    const bool locked = succeeded(ask(own, &Connection::sendSSE, stageArgument(stage)));
    flag = !locked;
    if (locked)
        button->setEnabled(false);
    pause.resume();
    setDetectorLabels();
}

void ParamsDialog::on_stabPushButton_clicked()
{
    lockOwnStage(1);
}

void ParamsDialog::on_stab2PushButton_clicked()
{
    lockOwnStage(2);
}
