#pragma once

namespace log4tango {
class Logger;
}
namespace Tango {
class DeviceImpl;
}

class QThread;

// Qt messages of the server (the link's debug lines, the worker's notes on
// connections and faults) go to Tango loggers, by level: qDebug to DEBUG,
// qInfo to INFO, qWarning to WARN, qCritical to ERROR, qFatal to FATAL.
// A message from a thread that works for one device (its worker, its
// link) goes to that device's logger; any other to the server's logger
// (the admin device's). Their levels and targets (console, file, a log
// viewer) are set as for any Tango device: -v on the command line, the
// logging properties, or the admin device's SetLoggingLevel and
// AddLoggingTarget commands. Before a logger is attached, warnings and
// errors go to stderr and the rest is dropped.
namespace TangoLogging {

void install();
// Messages of threads without a device go to this logger from now on
// (nullptr: back to stderr).
void attach(log4tango::Logger *logger);
// Messages of this thread go to the device's logger (the one it has at
// the time: Tango may set it up anew when its logging is configured),
// until the thread is unrouted.
void route(const QThread *thread, Tango::DeviceImpl *device);
void unroute(const QThread *thread);

} // namespace TangoLogging
