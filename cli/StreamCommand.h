#pragma once

#include <QStringList>
#include <QTextStream>

// "beamstab-cli stream LINK --rate R --seconds S [--out FILE]": streams for
// S seconds, taking samples the way the display does, then stops the
// stream and prints what was received. With --out the decoded samples are
// written as tab-separated text.
int runStreamCommand(const QStringList &args, QTextStream &out, QTextStream &err);
