#include "app/MessageHandler.h"

#include "app/StartupFlags.h"

#include <QFile>

namespace {

QString levelTag(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return QStringLiteral("[Debug]");
    case QtInfoMsg: return QStringLiteral("[Info]");
    case QtWarningMsg: return QStringLiteral("[Warning]");
    case QtCriticalMsg: return QStringLiteral("[Critical]");
    case QtFatalMsg: return QStringLiteral("[Fatal]");
    }
    return QString();
}

} // namespace

QString formatLogLine(const QDateTime &time, QtMsgType type, const QString &message)
{
    return time.toString(QStringLiteral("dd.MM.yy,hh:mm:ss.zzz")) + QLatin1Char(':') + levelTag(type)
           + QLatin1Char(':') + message;
}

QString logFilePath()
{
    return dataDirectory.filePath(QStringLiteral("log.txt"));
}

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (!loggingEnabled)
        return;
    QFile file(logFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return; // a log file that cannot be opened loses the message
    const QByteArray line = formatLogLine(QDateTime::currentDateTime(), type, message).toLocal8Bit() + '\n';
    file.write(line);
}
