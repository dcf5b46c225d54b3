// beamstab-sim: serves simulated controllers over TCP or pseudo-terminals
// until SIGINT/SIGTERM or the end of --duration. See --help.
#include "SimController.h"
#include "SimOptions.h"
#include "SimServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {
std::atomic<bool> stopRequested{false};

void onSignal(int)
{
    stopRequested = true;
}

// One control line of --stdin; returns what is wrong with it, or nothing.
QString applyControlLine(SimServer &server, const QByteArray &line)
{
    const QList<QByteArray> words = line.simplified().split(' ');
    if (words.value(0).isEmpty())
        return QString();
    bool ok[4] = {};
    if (words.size() == 5 && words[0] == "offset") {
        const int i = words[1].toInt(&ok[0]), stage = words[2].toInt(&ok[1]);
        const int x = words[3].toInt(&ok[2]), y = words[4].toInt(&ok[3]);
        if (!(ok[0] && ok[1] && ok[2] && ok[3]) || i < 0 || i >= server.count() || stage < 1 || stage > 2)
            return "offset expects a controller index, a stage (1 or 2) and x and y in mV";
        server.controller(i)->model().setOffset(stage - 1, 0, x);
        server.controller(i)->model().setOffset(stage - 1, 1, y);
        return QString();
    }
    return "unknown control line \"" + QString::fromLatin1(line.trimmed()) + "\"";
}
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    app.setApplicationName("beamstab-sim");

    SimOptions options;
    QString error;
    if (!options.parse(app.arguments(), &error)) {
        std::fprintf(stderr, "beamstab-sim: %s\n", qPrintable(error));
        return 2;
    }

    SimServer server;
    server.setDefaultFaults(options.faults);
    // With an explicit ID and several controllers the index keeps the IDs unique.
    const QString idBase = options.config.idText;
    server.setDefaultConfig(options.config);

    QStringList lines;
    if (options.serial) {
        const QStringList paths = server.startSerial(options.count, options.serialOptions);
        if (paths.isEmpty())
            return 1;
        for (int i = 0; i < paths.size(); ++i) {
            QString line = QString("serial %1 %2").arg(i).arg(paths[i]);
            if (!options.serialOptions.linkPath.isEmpty())
                line += ' ' + SimServer::linkPathFor(options.serialOptions.linkPath, i, options.count);
            lines << line;
        }
    } else {
        if (!server.startTcp(options.bind, options.port, options.count))
            return 1;
        for (int i = 0; i < server.count(); ++i)
            lines << QString("tcp %1 %2:%3").arg(i).arg(options.bind.toString()).arg(server.port(i));
    }
    if (!idBase.isEmpty() && options.count > 1) {
        for (int i = 0; i < server.count(); ++i) {
            SimConfig c = server.controller(i)->config();
            c.idText = idBase + QString::number(i).rightJustified(3, '0');
            server.controller(i)->setConfig(c);
        }
    }
    // The command log lets tools outside the process (a device server test
    // in another language, say) see what reached each controller.
    QFile commandLog(options.commandLogPath);
    QTimer commandLogPoll;
    if (!options.commandLogPath.isEmpty()) {
        if (!commandLog.open(QIODevice::WriteOnly | QIODevice::Append)) {
            std::fprintf(stderr, "beamstab-sim: cannot open %s\n", qPrintable(options.commandLogPath));
            return 1;
        }
        for (int i = 0; i < server.count(); ++i)
            commandLog.write(QByteArray("id ") + QByteArray::number(i) + ' '
                             + server.controller(i)->identification() + '\n');
        commandLog.flush();
        QObject::connect(&commandLogPoll, &QTimer::timeout, &app, [&server, &commandLog] {
            for (int i = 0; i < server.count(); ++i) {
                SimController *c = server.controller(i);
                for (const QByteArray &command : c->commandLog())
                    commandLog.write(QByteArray::number(i) + ' ' + command.left(3) + ' '
                                     + command.mid(3).toHex() + '\n');
                c->clearCommandLog();
            }
            commandLog.flush();
        });
        commandLogPoll.start(20);
    }

    // --stdin: control lines change the simulation while it runs.
    std::unique_ptr<QSocketNotifier> controlInput;
    QByteArray controlText;
    auto readControlInput = [&] {
        char buffer[512];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            controlInput->setEnabled(false); // end of input: the simulation goes on
            return;
        }
        controlText.append(buffer, int(n));
        for (int end; (end = controlText.indexOf('\n')) >= 0;) {
            const QString error = applyControlLine(server, controlText.left(end));
            controlText.remove(0, end + 1);
            if (!error.isEmpty())
                std::fprintf(stderr, "beamstab-sim: %s\n", qPrintable(error));
        }
    };
    if (options.controlInput) {
        controlInput.reset(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read));
        QObject::connect(controlInput.get(), &QSocketNotifier::activated, &app, readControlInput);
    }

    for (const QString &line : lines)
        std::printf("%s\n", qPrintable(line));
    std::printf("ready\n");
    std::fflush(stdout);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QTimer signalPoll;
    QObject::connect(&signalPoll, &QTimer::timeout, &app, [&app] {
        if (stopRequested)
            app.quit();
    });
    signalPoll.start(50);
    if (options.durationS > 0)
        QTimer::singleShot(int(options.durationS * 1000), &app, &QCoreApplication::quit);

    const int rc = app.exec();
    server.stop();
    return rc;
}
