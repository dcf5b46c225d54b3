#pragma once

#include "setup/ConnectionSettings.h"

#include <QList>
#include <QString>

class Connection;

// What the connection settings dialog needs of the window that owns the
// controller links. The dialog creates and identifies a link, then hands it
// over with newConnection; from then on the host owns it and the dialog asks
// the host to close, disconnect or reconnect it, always naming the link by
// its address() text.
class ConnectionHost
{
public:
    virtual ~ConnectionHost() = default;

    // Takes over a link, connected or not, with its record. The host copies
    // what it needs from the record during the call; the record stays with
    // the dialog.
    virtual void newConnection(Connection *connection, ConnectionSettings *settings) = 0;

    // Stops and removes the link with that address; false when it cannot.
    virtual bool closedConnection(QString address) = 0;

    // Connects the link again; on success boardID holds the controller ID
    // that the controller reported.
    virtual bool reconnectConnection(QString address, QString &boardID) = 0;

    // Disconnects the link and keeps it; true when it is no longer connected.
    virtual bool disconnectConnection(QString address) = 0;

    // Before a save: copies the current label, colours, detector settings,
    // trigger display flag and position of every system into the records.
    // False, and nothing copied, when the counts differ.
    virtual bool updateSettingsAndParameters(QList<ConnectionSettings> &settings) = 0;
};
