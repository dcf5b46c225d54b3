#pragma once

#include <QStringList>
#include <QTextStream>

// Commands that talk to one controller. args are the words after the
// command name; each returns an ExitCode.
int runIdentifyCommand(const QStringList &args, QTextStream &out, QTextStream &err);
int runStatusCommand(const QStringList &args, QTextStream &out, QTextStream &err);
int runSendCommand(const QStringList &args, QTextStream &out, QTextStream &err);
