#pragma once

#include <QStringList>
#include <QTextStream>

// "beamstab-cli scan [--all] [--pts] [--device-dir DIR]": searches the serial
// interfaces for controllers and prints one line per controller found:
// ID, port, baud rate, flow control (1 = hardware, 0 = none), tab-separated.
// --all also tries adapters that are not FTDI devices; --pts also tries the
// pseudo-terminals in DIR/pts/. With --device-dir the interfaces are the
// serial device files in DIR (links to simulated controllers, for example)
// instead of the system's list; they carry no maker, so they need --all.
// Exit codes: 0 searched (also when nothing was found), 2 bad usage.
int runScanCommand(const QStringList &args, QTextStream &out, QTextStream &err);
