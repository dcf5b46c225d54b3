#include "link/SerialPortProvider.h"

#include "link/SystemSerialPorts.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex &providerLock()
{
    static QMutex lock;
    return lock;
}

std::shared_ptr<const SerialPortProvider> &installedProvider()
{
    static std::shared_ptr<const SerialPortProvider> provider = std::make_shared<SystemSerialPorts>();
    return provider;
}

} // namespace

std::shared_ptr<const SerialPortProvider> serialPortProvider()
{
    QMutexLocker lock(&providerLock());
    return installedProvider();
}

void setSerialPortProvider(std::shared_ptr<const SerialPortProvider> provider)
{
    QMutexLocker lock(&providerLock());
    installedProvider() = provider ? std::move(provider) : std::make_shared<SystemSerialPorts>();
}
