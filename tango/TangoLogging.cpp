#include "TangoLogging.h"

#include <QString>
#include <QThread>
#include <QtGlobal>

#include <tango.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <unordered_map>

namespace {

std::atomic<log4tango::Logger *> target{nullptr};
std::mutex routesLock;
std::unordered_map<const QThread *, Tango::DeviceImpl *> routes;

log4tango::Logger *loggerOfThisThread()
{
    {
        std::lock_guard<std::mutex> guard(routesLock);
        const auto it = routes.find(QThread::currentThread());
        if (it != routes.end())
            return it->second->get_logger();
    }
    return target.load();
}

void forward(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const std::string text = message.toStdString();
    log4tango::Logger *logger = loggerOfThisThread();
    if (!logger) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::cerr << "beamstab-tango: " << text << std::endl;
        if (type == QtFatalMsg)
            std::abort();
        return;
    }
    switch (type) {
    case QtDebugMsg: logger->debug(text); break;
    case QtInfoMsg: logger->info(text); break;
    case QtWarningMsg: logger->warn(text); break;
    case QtCriticalMsg: logger->error(text); break;
    case QtFatalMsg:
        logger->fatal(text);
        std::cerr << "beamstab-tango: " << text << std::endl;
        std::abort();
    }
}

} // namespace

void TangoLogging::install()
{
    qInstallMessageHandler(forward);
}

void TangoLogging::attach(log4tango::Logger *logger)
{
    target.store(logger);
}

void TangoLogging::route(const QThread *thread, Tango::DeviceImpl *device)
{
    std::lock_guard<std::mutex> guard(routesLock);
    routes[thread] = device;
}

void TangoLogging::unroute(const QThread *thread)
{
    std::lock_guard<std::mutex> guard(routesLock);
    routes.erase(thread);
}
