#pragma once

#include "setup/ConnectionSettings.h"

#include <QList>
#include <QString>

#include <functional>

class Controller;

// What the connection settings dialog needs of the window that owns the
// controllers. The dialog creates a controller, hands it over with
// newConnection and from then on the host owns it; the dialog names a
// controller by its address() text. Nothing here waits: the host answers
// through the callbacks, on the user-interface thread, once the controller
// has carried the request out.
class ConnectionHost
{
public:
    virtual ~ConnectionHost() = default;

    // Takes over a controller, connected or not, with its record. The host
    // copies what it needs from the record during the call; the record stays
    // with the dialog.
    virtual void newConnection(Controller *controller, ConnectionSettings *settings) = 0;

    // A controller handed over unconnected has connected and identified as
    // controllerId since: the host marks it connected and shows it.
    virtual void connectionReady(QString address, QString controllerId) = 0;

    // The controller with that address; null when there is none.
    virtual Controller *controllerAt(QString address) const = 0;

    // Stops and removes the controller with that address; done(false) when
    // it cannot.
    virtual void closedConnection(QString address, std::function<void(bool closed)> done) = 0;

    // Connects the controller again; on success boardID is the controller ID
    // that the controller reported.
    virtual void reconnectConnection(QString address, std::function<void(bool ok, QString boardID)> done) = 0;

    // Disconnects the controller and keeps it; done(true) when it is no
    // longer connected.
    virtual void disconnectConnection(QString address, std::function<void(bool gone)> done) = 0;

    // Before a save: copies the current label, colours, detector settings,
    // trigger display flag and position of every system into the records.
    // False, and nothing copied, when the counts differ.
    virtual bool updateSettingsAndParameters(QList<ConnectionSettings> &settings) = 0;
};
