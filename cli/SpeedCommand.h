#pragma once

#include <QStringList>
#include <QTextStream>

// beamstab-cli speed: the link speed test of the service dialog.
int runSpeedCommand(const QStringList &arguments, QTextStream &out, QTextStream &err);
