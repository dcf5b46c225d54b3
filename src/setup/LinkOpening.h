#pragma once

#include <QString>

#include <functional>

class Connection;

// The link work of the connection settings dialog, free of widgets: waiting
// for a started link, identifying it, sending the label and moving a serial
// controller to another baud rate. Everything runs on the user-interface
// thread; the waits process pending events.
namespace LinkOpening {

// Polls until the link is connected or its thread has ended, processing
// events and sleeping 1 ms between checks, for at most `milliseconds`.
bool waitForConnected(Connection &link, int milliseconds);

// How the controller ID is cut from the identification reply: without its
// first two bytes and its last byte (connect), or without its first two
// bytes and every ';' (loading a setup).
enum class IdText { Connect, Load };

// Stops a stream left running (twice), asks for the identification and
// applies it to the link. False when the reply is not a valid one.
bool identify(Connection &link, IdText idText, QString &controllerId);

// Stores the label on the link and sends it to the controller; the reply is
// awaited but not judged.
void sendLabel(Connection &link, const QString &label);

// Ends the link thread if it was started, then deletes the link.
void release(Connection *link, bool started);

// Code byte of the baud-rate command: 1 = 115200, 4 = 460800, 9 = 921600.
char baudRateCode(int baud);

enum class BaudAdjustment { Done, PortNotSuitable, Failed };

// Opens a temporary link at `currentBaud`, tells the controller to switch to
// `newBaud` and closes the link again; the link gets `connectWaitMs` to
// connect. `opening` runs once the temporary
// link has been accepted, before its thread starts (to tell the user).
BaudAdjustment adjustBaudRate(const QString &portName, int currentBaud, int newBaud, int connectWaitMs,
                              const std::function<void()> &opening);

} // namespace LinkOpening
