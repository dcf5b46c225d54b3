#pragma once

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
