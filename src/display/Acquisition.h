#pragma once

#include "link/Protocol.h"

#include <QObject>

class Controller;
class ControllerRegistry;
class QMessageBox;
class QWidget;

// The controller side of the acquisition cycle: starts and stops the streams
// of the displayed controllers, polls the status flags of the idle ones at
// every display tick and counts the failed status reads of the active
// controller. Every exchange is a request of the controller concerned, so
// the controllers work in parallel and nothing here waits: results arrive in
// slots on the user-interface thread and are looked up by controller, never
// by an index taken before the request.
class Acquisition : public QObject
{
    Q_OBJECT
public:
    // More consecutive failed status reads of the active controller than
    // this stop the acquisition.
    static constexpr int errorLimit = 3;

    Acquisition(ControllerRegistry &registry, QWidget *window);

    // Takes the status reads of a newly added controller.
    void watch(Controller *controller);

    // Starts the stream of every displayed controller at this rate; a
    // refused or unanswered start reports streamStartFailed().
    void startStreams(int rate);
    void startStream(Controller *controller, int rate);
    // Stops the stream of every displayed connected controller.
    void stopStreams();

    // The status poll of the display tick: every connected controller that
    // is not streaming is asked for its flags (a poll still outstanding is
    // not sent again); links that are down lose their stage flags.
    void pollIdle();
    // Asks the active controller for its flags; false when there is none.
    bool pollActive();

    int errorCount() const { return errors; }
    void resetErrors() { errors = 0; }
    QMessageBox *communicationErrorBox() const { return errorBox; }

signals:
    void streamStartFailed();
    // The status record of this controller index took new flags.
    void statusApplied(int index);
    // The active controller failed its status read more than errorLimit
    // times in a row; the box is shown already.
    void tooManyErrors();

private:
    void statusRead(Controller *controller, const Protocol::StatusFlags &flags);

    ControllerRegistry &registry;
    QMessageBox *errorBox;
    int errors = 0;
};
