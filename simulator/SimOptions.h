#pragma once

#include "SimConfig.h"
#include "SimServer.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

// Settings of a beamstab-sim run, read from its command line.
struct SimOptions
{
    QHostAddress bind{QHostAddress::LocalHost};
    quint16 port = 2000;
    int count = 1;
    bool serial = false;
    SerialOptions serialOptions;
    double durationS = 0;   // 0 = until SIGINT/SIGTERM
    QString commandLogPath; // empty = no command log file
    bool controlInput = false; // read control lines from standard input
    SimConfig config;
    SimFaults faults;

    // Parses the arguments (argv[0] first). On failure returns false with a
    // message in error; --help and --version print and exit inside the parser.
    bool parse(const QStringList &arguments, QString *error);
};
