#pragma once

#include <QByteArray>
#include <QString>

class Connection;

// What a controller's identification reply ("GID;") says about it.
struct ControllerIdentity
{
    bool valid = false;         // reply begins 0x00 ';' "ORX"
    bool answered = false;      // a reply came at all (an empty one is a time-out)
    bool variantM = false;      // "-VM<version>-"
    bool hasVersion = false;    // a "-V" tag was found
    int firmwareVersion = 0;    // decimal value of the version text
    bool triggerCapable = false; // reply byte 10 is 'A'
    QString controllerId;       // reply without its first 2 bytes and last byte
};

// Parses an identification reply. Pure function: the connection dialog,
// the reconnect and the command-line tool all use it.
ControllerIdentity parseIdentification(const QByteArray &reply);

// Applies a valid identity to the connection (firmware version, variant M,
// trigger capability). Returns identity.valid.
bool applyIdentification(Connection &connection, const ControllerIdentity &identity);

// The identification sequence on a connected link: stopAttempts times
// "CLS;" with waitForReply (to stop a stream left running by an earlier
// run), then "GID;". The result is parsed and, when valid, applied.
ControllerIdentity identifyController(Connection &connection, int stopAttempts = 2);
