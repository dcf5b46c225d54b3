#pragma once

#include <QDir>
#include <QStringList>

// Process-wide settings read from the command line once at start-up, before
// any other thread exists, and only read afterwards.
extern bool serviceMode;        // "-s": the service menu is shown
extern bool detectorTuning;     // "-d": detector sensitivity tuning widgets
extern bool otherSerialDevices; // "-e": discovery accepts non-FTDI adapters
extern bool autoSearch;         // cleared by "-a": no automatic serial search
extern bool loggingEnabled;     // "-l": the message handler writes log.txt
extern QDir dataDirectory;      // per-user directory (log, setup file, Data/)

extern const char *const programVersion; // "2.3.1"
extern const char *const programBuild;   // "B10624"

// Applies the switches in order, logging each one. The first element of
// arguments is taken as the first switch, not the program name.
void applyCommandLineSwitches(const QStringList &arguments);

// The per-user directory: "Talvix" in the user's documents folder.
QString defaultDataDirectoryPath();

