#pragma once

#include <QString>

// Serial port names ("ttyUSB0", "pts/3") name device files in one directory,
// "/dev/" unless the application or a test points elsewhere (a directory of
// symlinks to pseudo-terminals served by the simulator, for example). Both
// the serial link and the controller discovery resolve names through it.

// The process-wide device directory, always ending in '/'.
QString serialDeviceDirectory();

// Sets the process-wide device directory; an empty text restores "/dev/".
// Meant for start-up; links created afterwards take the new directory.
void setSerialDeviceDirectory(const QString &directory);

// The device file of a port name inside the given directory. A name that is
// already an absolute path is used as it is.
QString serialDevicePath(const QString &portName, const QString &directory);
