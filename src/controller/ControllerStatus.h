#pragma once

#include "link/Protocol.h"

#include <QColor>
#include <QString>

// The main window's record of one controller: what the display knows about
// its state and how it is drawn. One record per connection, same index.
struct ControllerStatus
{
    QString label;
    QString address;        // the connection's address(); every slot finds a controller by it
    QString controllerId;   // as the controller reported it at identification
    bool connected = false; // link connected and the stage flags below valid

    // Takes the stage flags of a status reply and marks the controller
    // connected.
    void applyFlags(const Protocol::StatusFlags &flags)
    {
        stabOn1 = flags.stabilizationOn[0];
        stabOn2 = flags.stabilizationOn[1];
        active1 = flags.active[0];
        active2 = flags.active[1];
        connected = true;
    }

    bool stabOn1 = false;
    bool stabOn2 = false;
    bool active1 = false;
    bool active2 = false;
    QColor colorX;
    QColor colorY;
    QColor colorI;
    bool shown = false;     // in the list of displayed controllers
    QColor commonColorX;    // reserved for common-detector traces
    QColor commonColorY;
    QColor commonColorI;
    int groupId = 0;
    bool multiplex1 = false;
    bool multiplex2 = false;
    QString alert;          // why it stopped answering ("label (address): link lost at ..."); empty while fine
};
