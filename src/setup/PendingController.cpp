#include "setup/PendingController.h"

#include "controller/Controller.h"
#include "controller/FutureCallback.h"

PendingController::PendingController(std::unique_ptr<Connection> link, QObject *parent)
    : QObject(parent), owned(new Controller(std::move(link)))
{
}

// The link ends after the request under way, which gives up at once; the
// controller is deleted once its link has ended. Nobody waits for it.
PendingController::~PendingController()
{
    if (!owned)
        return;
    cancel();
    QObject::connect(owned, &Controller::closed, owned, &QObject::deleteLater);
    owned->close();
}

void PendingController::cancel()
{
    cancelled->store(true, std::memory_order_release);
    if (owned)
        owned->cancel();
}

LinkSequences::CancelCheck PendingController::cancelCheck() const
{
    return [flag = cancelled] { return flag->load(std::memory_order_acquire); };
}

void PendingController::openAndIdentify(int waitMs)
{
    auto opening = owned->request([waitMs, cancelled = cancelCheck()](Connection &link) {
        return LinkSequences::openAndIdentify(link, waitMs, 2, cancelled);
    });
    whenReady(opening, this, [this](const LinkSequences::Opening &result) {
        if (owned)
            emit opened(result);
    });
}

void PendingController::changeBaudRate(int newBaud, int waitMs)
{
    auto change = owned->request([newBaud, waitMs, cancelled = cancelCheck()](Connection &link) {
        return LinkSequences::changeBaudRate(link, newBaud, waitMs, cancelled);
    });
    whenReady(change, this, [this](bool accepted) {
        if (owned)
            emit baudRateChanged(accepted);
    });
}

Controller *PendingController::take()
{
    Controller *controller = owned;
    owned = nullptr;
    return controller;
}
