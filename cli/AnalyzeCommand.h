#pragma once

#include "analysis/JitterAnalysis.h"

#include <QStringList>
#include <QTextStream>

#include <vector>

// "beamstab-cli analyze FILE [options]": reads a recording and prints, per
// stage and axis, the RMS jitter, band RMS values, the peaks of the
// amplitude spectral density, the Allan deviation at standard averaging
// times and the actuator headroom; --png renders the spectrum and Allan
// plots into a picture. Exit codes: 0 done, 2 bad usage, 3 the file could
// not be read or is not a recording, 5 the picture could not be written.
int runAnalyzeCommand(const QStringList &args, QTextStream &out, QTextStream &err);

// Whether the command line asks for something that needs a GUI application
// (the --png picture of analyze); main then creates one on the offscreen
// platform instead of a core application.
bool analyzeNeedsGui(int argc, char *argv[]);

// Draws the analysed axes into a PNG picture of the given size; false with
// the reason in error.
using AnalyzePictureWriter = bool (*)(const std::vector<JitterAnalysis::Axis> &axes, const QString &title,
                                      const QString &path, int width, int height, QString &error);

// The writer of the --png picture. It needs widgets, which the commands do
// not link: the tool's main installs it when it runs as a GUI application.
// Without one, --png is refused as bad usage.
void setAnalyzePictureWriter(AnalyzePictureWriter writer);
