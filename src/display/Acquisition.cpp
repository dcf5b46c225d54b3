#include "display/Acquisition.h"

#include "controller/Controller.h"
#include "controller/ControllerRegistry.h"
#include "controller/FutureCallback.h"
#include "link/Connection.h"

#include <QMessageBox>
#include <QPointer>

Acquisition::Acquisition(ControllerRegistry &controllers, QWidget *window)
    : QObject(window)
    , registry(controllers)
{
    // One box for the whole session: further failures while it is up do not
    // stack more boxes on the screen.
    errorBox = new QMessageBox(QMessageBox::Warning, QStringLiteral("SerialPort"),
                               QStringLiteral("Too many communication errors.\nDevice disconnected."),
                               QMessageBox::Ok, window);
    errorBox->setObjectName(QStringLiteral("communicationErrorBox"));
    errorBox->setModal(false);
}

void Acquisition::watch(Controller *controller)
{
    // Emitted on the controller's worker thread; taken here, in order.
    QPointer<Controller> guarded(controller);
    connect(controller, &Controller::statusRead, this, [this, guarded](Protocol::StatusFlags flags) {
        if (guarded)
            statusRead(guarded, flags);
    });
}

void Acquisition::startStreams(int rate)
{
    for (int c : registry.displayed)
        startStream(registry.controllers.at(c), rate);
}

void Acquisition::startStream(Controller *controller, int rate)
{
    whenReady(controller->startStream(rate), this, [this](bool started) {
        if (!started)
            emit streamStartFailed();
    });
}

void Acquisition::stopStreams()
{
    for (int c : registry.displayed) {
        Controller *controller = registry.controllers.at(c);
        if (controller->isConnected() && !registry.leaving.contains(controller))
            controller->stopStream();
    }
}

void Acquisition::pollIdle()
{
    for (int c = 0; c < registry.count(); ++c) {
        Controller *controller = registry.controllers.at(c);
        const Connection &link = controller->link();
        ControllerStatus &status = registry.controllerStatus[c];
        status.label = link.label();
        status.address = link.address();
        if (registry.leaving.contains(controller))
            continue;
        if (link.linkState() != Connection::Connected) {
            status.stabOn1 = status.stabOn2 = status.active1 = status.active2 = false;
            status.connected = false;
        } else if (!link.isStreaming() && !controller->isBusy()) {
            // A busy controller is polled once its sequence is over: a poll
            // queued behind a stream start would reach a streaming controller.
            controller->pollStatus();
        }
    }
}

bool Acquisition::pollActive()
{
    const int c = registry.activeIndex;
    if (c < 0 || c >= registry.count())
        return false;
    registry.controllers.at(c)->pollStatus();
    return true;
}

void Acquisition::statusRead(Controller *controller, const Protocol::StatusFlags &flags)
{
    const int c = registry.indexOf(controller);
    if (c < 0 || registry.leaving.contains(controller))
        return;
    const bool active = c == registry.activeIndex;
    if (!flags.valid) {
        if (active && ++errors > errorLimit) {
            emit tooManyErrors();
            if (!errorBox->isVisible())
                errorBox->open();
        }
        return;
    }
    if (active)
        errors = 0;
    registry.controllerStatus[c].applyFlags(flags);
    emit statusApplied(c);
}
