#include "app/StartupFlags.h"

#include "app/Version.h"

#include <QDebug>
#include <QDir>
#include <QStandardPaths>
#include <QtGlobal>

bool serviceMode = false;
bool detectorTuning = false;
bool otherSerialDevices = false;
bool autoSearch = true;
bool loggingEnabled = false;
QDir dataDirectory(QStringLiteral("."));

const char *const programVersion = BEAMSTAB_VERSION;
const char *const programBuild = "B10624";

void applyCommandLineSwitches(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("-s")) {
            serviceMode = true;
            qInfo().noquote() << "Activated service mode";
        } else if (argument == QLatin1String("-d")) {
            detectorTuning = true;
            qInfo().noquote() << "Activated settings for tuning the detector sensitivity";
        } else if (argument == QLatin1String("-e")) {
            qInfo().noquote() << "Activated support for serial devices other than FTDI";
            otherSerialDevices = true;
        } else if (argument == QLatin1String("-a")) {
            qInfo().noquote() << "Deactivated automatic search for serial devices";
            autoSearch = false;
        } else if (argument == QLatin1String("-l")) {
            // Set before logging so that this line itself reaches the file.
            loggingEnabled = true;
            qInfo().noquote() << "Activated logging";
        } else {
            qInfo().noquote() << "Unrecognized command line argument" << argument;
        }
    }
}

QString defaultDataDirectoryPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath(QStringLiteral("Talvix"));
}

