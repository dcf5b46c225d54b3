#include "display/StagePanel.h"

#include "controller/Controller.h"
#include "controller/ControllerRegistry.h"
#include "controller/FutureCallback.h"

#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>

StagePanel::StagePanel(ControllerRegistry &controllers, const Widgets &widgets, QObject *parent)
    : QObject(parent)
    , registry(controllers)
    , ui(widgets)
{
    onPalette.setColor(QPalette::Button, QColor("lightgreen"));
    offPalette.setColor(QPalette::Button, QColor("lightcoral"));
    for (QPushButton *button : ui.button) {
        button->setPalette(offPalette);
        button->setEnabled(false);
    }
}

QString StagePanel::busyText(const QString &label)
{
    return QStringLiteral("Busy: %1 is carrying out a command").arg(label);
}

void StagePanel::watch(Controller *controller)
{
    connect(controller, &Controller::busyChanged, this, [this] { refresh(); });
}

Controller *StagePanel::activeController() const
{
    const int c = registry.activeIndex;
    return c >= 0 && c < registry.count() ? registry.controllers.at(c) : nullptr;
}

void StagePanel::refresh()
{
    Controller *active = activeController();
    const bool busy = active && active->isBusy();
    const QString why = busy ? busyText(registry.controllerStatus.at(registry.activeIndex).label) : QString();
    for (QPushButton *button : ui.button) {
        button->setEnabled(active && !busy);
        button->setToolTip(why);
        button->setAccessibleDescription(why);
    }
}

bool StagePanel::clicked(int stage)
{
    Controller *controller = activeController();
    if (!controller)
        return false;
    QPushButton *button = ui.button[stage == 2 ? 1 : 0];
    const bool on = button->isChecked();
    QPointer<Controller> guarded(controller);
    // Two attempts: a command without a good reply is sent once more.
    whenReady(controller->switchStabilization(stage, on, 2), this,
              [this, guarded, stage, on, button](const LinkSequences::PausedOutcome &outcome) {
                  if (!guarded)
                      return;
                  const int c = registry.indexOf(guarded.data());
                  if (c < 0)
                      return;
                  if (outcome.accepted) {
                      ControllerStatus &status = registry.controllerStatus[c];
                      (stage == 2 ? status.stabOn2 : status.stabOn1) = on;
                      if (!on)
                          (stage == 2 ? status.active2 : status.active1) = false;
                      // The widgets show the controller they were clicked for.
                      if (c == registry.activeIndex) {
                          button->setText(on ? QStringLiteral("ON") : QStringLiteral("OFF"));
                          button->setAccessibleName(QStringLiteral("Stabilization, stage %1: %2").arg(stage).arg(button->text()));
                          button->setPalette(on ? onPalette : offPalette);
                          if (!on)
                              setLamp(stage, false);
                      }
                  }
                  applyStatus(guarded, outcome.status);
                  refresh();
              });
    refresh(); // busy from now on: both buttons wait for the command
    return true;
}

void StagePanel::switchStage(const QString &address, int stage, bool on)
{
    const int c = registry.indexOf(address);
    if (c < 0 || !registry.controllers.at(c)->isConnected())
        return;
    Controller *controller = registry.controllers.at(c);
    QPointer<Controller> guarded(controller);
    // The reply is not judged and nothing is retried.
    whenReady(controller->switchStabilization(stage, on, 1), this,
              [this, guarded](const LinkSequences::PausedOutcome &outcome) {
                  if (guarded)
                      applyStatus(guarded, outcome.status);
              });
    refresh();
}

void StagePanel::multiplex(const QString &address, bool on, int stage)
{
    const int c = registry.indexOf(address);
    if (c < 0)
        return;
    Controller *controller = registry.controllers.at(c);
    const QPair<const Controller *, int> key(controller, stage);
    const ControllerStatus &status = registry.controllerStatus.at(c);
    if ((stage == 2 ? status.multiplex2 : status.multiplex1) == on || multiplexPending.contains(key))
        return;
    multiplexPending.insert(key);
    QPointer<Controller> guarded(controller);
    whenReady(controller->setMultiplex(stage, on), this,
              [this, guarded, key, stage, on](const LinkSequences::PausedOutcome &outcome) {
                  multiplexPending.remove(key);
                  const int index = guarded ? registry.indexOf(guarded.data()) : -1;
                  if (index < 0)
                      return;
                  ControllerStatus &record = registry.controllerStatus[index];
                  (stage == 2 ? record.multiplex2 : record.multiplex1) = outcome.accepted ? on : !on;
                  applyStatus(guarded, outcome.status);
              });
    refresh();
}

void StagePanel::applyStatus(Controller *controller, const Protocol::StatusFlags &flags)
{
    const int c = registry.indexOf(controller);
    if (c < 0 || !flags.valid)
        return;
    registry.controllerStatus[c].applyFlags(flags);
}

void StagePanel::sync(const ControllerStatus &status)
{
    setButton(1, status.stabOn1);
    setButton(2, status.stabOn2);
    setLamp(1, status.active1);
    setLamp(2, status.active2);
}

void StagePanel::setButton(int stage, bool on)
{
    QPushButton *button = ui.button[stage == 2 ? 1 : 0];
    const QString text = on ? QStringLiteral("ON") : QStringLiteral("OFF");
    // Only a text that disagrees is rewritten: a button whose command was
    // refused keeps the checked state the user gave it.
    if (button->text() == text)
        return;
    button->setText(text);
    // Screen readers and automation read the state, not only the caption.
    button->setAccessibleName(QStringLiteral("Stabilization, stage %1: %2").arg(stage).arg(text));
    button->setPalette(on ? onPalette : offPalette);
    button->setChecked(on);
}

void StagePanel::setLamp(int stage, bool active)
{
    QLabel *lamp = ui.lamp[stage == 2 ? 1 : 0];
    QLabel *text = ui.lampText[stage == 2 ? 1 : 0];
    const QString wanted = active ? QStringLiteral("Active") : QStringLiteral("Inactive");
    if (text->text() == wanted)
        return;
    text->setText(wanted);
    text->setAccessibleName(QStringLiteral("Active state, stage %1: %2").arg(stage).arg(wanted));
    lamp->setAccessibleName(QStringLiteral("Active lamp, stage %1: %2").arg(stage).arg(active ? "green" : "red"));
    lamp->setPixmap(QPixmap(active ? QStringLiteral(":/images/green_light.png")
                                   : QStringLiteral(":/images/red_light.png")));
}
