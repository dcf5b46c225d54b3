#pragma once

#include <QStringList>
#include <QTextStream>

// "beamstab-cli stream LINK --rate R --seconds S [--out FILE]": streams for
// S seconds, taking samples the way the display does, then stops the
// stream and prints what was received. With --out every sample is written
// in the recording format of the application (the core recorder), with its
// metadata file beside it.
int runStreamCommand(const QStringList &args, QTextStream &out, QTextStream &err);
