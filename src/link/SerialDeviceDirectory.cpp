#include "link/SerialDeviceDirectory.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

const QString defaultDirectory = QStringLiteral("/dev/");

QMutex &directoryLock()
{
    static QMutex lock;
    return lock;
}

QString &currentDirectory()
{
    static QString directory = defaultDirectory;
    return directory;
}

QString withTrailingSlash(const QString &directory)
{
    return directory.endsWith('/') ? directory : directory + '/';
}

} // namespace

QString serialDeviceDirectory()
{
    QMutexLocker lock(&directoryLock());
    return currentDirectory();
}

void setSerialDeviceDirectory(const QString &directory)
{
    QMutexLocker lock(&directoryLock());
    currentDirectory() = directory.isEmpty() ? defaultDirectory : withTrailingSlash(directory);
}

QString serialDevicePath(const QString &portName, const QString &directory)
{
    if (portName.startsWith('/') || directory.isEmpty())
        return portName;
    return withTrailingSlash(directory) + portName;
}
