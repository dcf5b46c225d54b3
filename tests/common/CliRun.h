#pragma once

// Running the command-line tool (BEAMSTAB_CLI, set by the test's build) as users do.

#include <QProcess>
#include <QString>
#include <QStringList>

struct CliRun
{
    int exitCode = -1; // -1: crashed or hung
    QString out;
    QString err;
};

inline CliRun runCli(const QStringList &arguments)
{
    QProcess process;
    process.start(BEAMSTAB_CLI, arguments);
    CliRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// The value of a "key<TAB>value" line of the tool's output.
inline QString valueOf(const QString &output, const QString &key)
{
    for (const QString &line : output.split('\n'))
        if (line.startsWith(key + '\t'))
            return line.section('\t', 1, 1);
    return {};
}
