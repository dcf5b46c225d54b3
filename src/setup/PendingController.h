#pragma once

#include "controller/OpeningSequences.h"

#include <QObject>

#include <atomic>
#include <memory>

class Connection;
class Controller;

// A controller that the connection dialog opens, identifies or moves to
// another baud rate before anybody owns it. The sequences run on the
// controller's worker; their results arrive as signals on this object's
// thread, so nothing here waits. Until take() hands the controller on, this
// object owns it: deleting it (a cancelled or failed connect) cancels what
// runs and releases the link without waiting for it.
class PendingController : public QObject
{
    Q_OBJECT
public:
    explicit PendingController(std::unique_ptr<Connection> link, QObject *parent = nullptr);
    ~PendingController() override;

    // Null once taken.
    Controller *controller() const { return owned; }
    // Starts the link, waits up to waitMs for it and identifies it: opened().
    void openAndIdentify(int waitMs);
    // The baud-rate change on a temporary link: baudRateChanged().
    void changeBaudRate(int newBaud, int waitMs);
    // The sequence under way gives up at its next step (a connect stops
    // waiting, an identification sends nothing more); its result still
    // arrives.
    void cancel();
    // Gives the controller away; nothing is reported for it afterwards.
    Controller *take();

signals:
    void opened(LinkSequences::Opening opening);
    void baudRateChanged(bool accepted);

private:
    LinkSequences::CancelCheck cancelCheck() const;

    Controller *owned;
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
};
