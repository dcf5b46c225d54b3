#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// Installed with qInstallMessageHandler at start-up. Appends one line per
// message to "log.txt" in the data directory while logging is enabled ("-l");
// otherwise the message is dropped. Called from any thread: the file is
// opened, appended to and closed for every message.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// "dd.MM.yy,hh:mm:ss.zzz:[Tag]:text" for the given time and message type.
QString formatLogLine(const QDateTime &time, QtMsgType type, const QString &message);

// Full path of the log file in the data directory.
QString logFilePath();
