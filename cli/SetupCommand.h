#pragma once

#include <QStringList>
#include <QTextStream>

// "beamstab-cli setup [FILE]": prints the controllers of a connection setup
// file (the default file when FILE is omitted), one block per device, in a
// stable line format meant for diffs. args are the words after "setup".
// Exit codes: 0 printed, 2 bad usage, 3 the file could not be loaded.
int runSetupCommand(const QStringList &args, QTextStream &out, QTextStream &err);
