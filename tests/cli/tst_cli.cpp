// The command-line tool as users run it: the real executable against the
// embedded simulator, over TCP and over a pseudo-terminal linked into a
// temporary device directory, checking output, files and exit codes.

#include "CliRun.h"
#include "Simulator.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

class CliTest : public QObject
{
    Q_OBJECT

    Simulator tcpSim;
    Simulator serialSim;
    QString target;
    QTemporaryDir devices;
    // Unique per test process: serial lock files are shared machine-wide.
    const QString port = QStringLiteral("ttyUSB%1").arg(QCoreApplication::applicationPid());

private slots:
    void initTestCase()
    {
        QVERIFY(tcpSim.start(0, 1));
        target = QStringLiteral("127.0.0.1:%1").arg(tcpSim.port(0));
        SerialOptions options;
        options.linkPath = devices.filePath(port);
        QCOMPARE(serialSim.startSerial(1, options).size(), 1);
    }

    void identifyReachesTcpAndSerialControllers()
    {
        CliRun run = runCli({"identify", "--tcp", target});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(valueOf(run.out, "id").toLatin1(), tcpSim.identification(0));
        QCOMPARE(valueOf(run.out, "firmware"), QString("31"));
        run = runCli({"identify", "--serial", port, "--baud", "921600", "--device-dir", devices.path()});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(valueOf(run.out, "id").toLatin1(), serialSim.identification(0));
        // A controller that will not identify is reported.
        SimFaults faults;
        faults.refuseCodes = {"GID"};
        tcpSim.setFaults(0, faults);
        run = runCli({"identify", "--tcp", target});
        tcpSim.setFaults(0, SimFaults());
        QVERIFY2(run.exitCode == 4 && run.err.contains("System identification failed"), qPrintable(run.err));
    }

    // One reply (intensity of stage 1) 1.7 s late: that line is an error,
    // every other line as without the fault, and the exit code says so.
    void statusWithOneLateReply()
    {
        const CliRun clean = runCli({"status", "--tcp", target});
        QCOMPARE(clean.exitCode, 0);
        SimFaults late;
        late.replyDelayByPrefix = {{QByteArray("GIN\x01", 4), 1700}};
        tcpSim.setFaults(0, late);
        const CliRun run = runCli({"status", "--tcp", target});
        tcpSim.setFaults(0, SimFaults());
        QCOMPARE(run.exitCode, 5);
        QVERIFY2(run.out.contains("intensity1\tno valid reply"), qPrintable(run.out));
        // Settings and flags do not change between the runs; measured values
        // (intensity, common detector) only need to be there.
        for (const char *key : {"flags", "stabilization", "active", "activeSignal", "pFactor1", "sensitivity1",
                                "adjustIn1x", "adjustIn1y", "pFactor2", "sensitivity2", "adjustIn2x", "adjustIn2y"})
            QVERIFY2(!valueOf(clean.out, key).isEmpty() && valueOf(run.out, key) == valueOf(clean.out, key), key);
        bool ok = false;
        QVERIFY(valueOf(run.out, "intensity2").toInt(&ok) >= 0 && ok);
        QVERIFY(!valueOf(run.out, "commonDetector").isEmpty());
        QCOMPARE(run.out.count("no valid reply"), 1);
    }

    // A start that is never answered is stopped; a stop that is never
    // confirmed fails the run.
    void streamFailuresStopAndExitFive()
    {
        for (auto [silent, message] : std::initializer_list<std::pair<QByteArray, QString>>{
                 {"SLS", "did not start"}, {"CLS", "did not stop"}}) {
            SimFaults faults;
            faults.silentCodes = {silent};
            tcpSim.setFaults(0, faults);
            tcpSim.clearCommandLog(0);
            QElapsedTimer timer;
            timer.start();
            const CliRun run = runCli({"stream", "--tcp", target, "--rate", "100", "--seconds", "1"});
            const qint64 elapsed = timer.elapsed();
            tcpSim.setFaults(0, SimFaults());
            QCOMPARE(run.exitCode, 5);
            QVERIFY2(run.err.contains(message), qPrintable(run.err));
            const QList<QByteArray> log = tcpSim.commandLog(0);
            QVERIFY2(log.indexOf(QByteArray("SLS\x00\x00\x00\x64;", 8)) >= 0 && log.last() == "CLS;",
                     qPrintable(log.join(' ').toHex(' ')));
            if (silent == "SLS")
                QVERIFY2(elapsed < 10000, qPrintable(QString::number(elapsed)));
            QTRY_VERIFY_WITH_TIMEOUT(!tcpSim.hasClient(0), 5000);
        }
    }

    void sendUsesTheAnswerLengthOfTheCommand()
    {
        for (auto [command, length] : std::initializer_list<std::pair<QString, int>>{
                 {"GER;", 7}, {"GSF;", 4}, {"GCA;", 11}, {"STF\\x01;", 5}}) {
            const CliRun run = runCli({"send", "--tcp", target, command});
            QCOMPARE(run.exitCode, 0);
            QVERIFY2(run.out.startsWith(QString("%1 bytes: 00 3b ").arg(length)), qPrintable(run.out));
            QVERIFY2(run.out.trimmed().endsWith(";|"), qPrintable(run.out));
        }
    }

    void streamCountsAndRecordsEverySample()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("samples.tsv");
        const qint64 before = tcpSim.counters(0).streamMessagesSent;
        const CliRun run = runCli({"stream", "--tcp", target, "--rate", "500", "--seconds", "1", "--out", file});
        QCOMPARE(run.exitCode, 0);
        const qint64 sent = tcpSim.counters(0).streamMessagesSent - before;
        const int samples = valueOf(run.out, "samples").toInt();
        // Everything but the start reply is a sample, the last message included.
        QCOMPARE(samples, int(sent - 1));
        QCOMPARE(valueOf(run.out, "dropped"), QString("0")); // drained in time: nothing overwritten, no warning
        QVERIFY2(!run.err.contains("dropped"), qPrintable(run.err));
        QFile recorded(file);
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = recorded.readAll().split('\n');
        // Three header lines and the empty piece after the last newline.
        QCOMPARE(lines.size(), samples + 4);
        // The line format is the recorder's; the tool chooses volts and starts the clock.
        QVERIFY(lines.at(1).startsWith("ms\tX1(V)\tY1(V)\tI1(V)") && lines.at(3).startsWith("0\t"));
        QCOMPARE(valueOf(run.out, "lines").toInt(), samples);
        QVERIFY(QFile::exists(file + ".json"));
    }

    // Device files carry no maker, so they count as non-FTDI interfaces:
    // found with --all only.
    void scanListsTheControllersFound()
    {
        for (auto [arguments, found] : std::initializer_list<std::pair<QStringList, bool>>{{{"--all"}, true}, {{}, false}}) {
            CliRun run = runCli(QStringList{"scan", "--device-dir", devices.path()} + arguments);
            for (int retry = 0; found && run.out.isEmpty() && retry < 2; ++retry) // every setting too slow
                run = runCli(QStringList{"scan", "--device-dir", devices.path()} + arguments);
            QCOMPARE(run.exitCode, 0);
            const QString id = QString::fromLatin1(serialSim.identification(0));
            // The controller answers at every line setting; the first is taken
            // unless it missed its 100 ms on a busy machine.
            const QStringList fields = run.out.endsWith('\n') ? run.out.chopped(1).split('\t') : QStringList();
            QCOMPARE(fields.size(), found ? 4 : 0);
            if (found) {
                QCOMPARE(fields.mid(0, 2), (QStringList{id, port}));
                QVERIFY2(QStringList({"115200", "921600"}).contains(fields[2]) && QStringList({"0", "1"}).contains(fields[3]),
                         qPrintable(run.out));
            }
            QCOMPARE(run.err.contains("no controllers found"), !found);
        }
    }

    void failuresHaveTheirOwnExitCodes()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const QString nobody = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        // Arguments, exit code, what the error output says.
        for (auto [arguments, exitCode, message] : std::initializer_list<std::tuple<QStringList, int, QString>>{
                 {{}, 2, "usage"}, {{"dance"}, 2, "unknown command"}, {{"identify"}, 2, "--tcp"},
                 {{"identify", "--tcp", "127.0.0.1:99999"}, 2, "port"},
                 {{"stream", "--tcp", "127.0.0.1", "--seconds", "1", "--rate", "501"}, 2, "--rate"},
                 {{"speed", "--tcp", "127.0.0.1:1", "--rate", "501"}, 2, "--rate"},
                 {{"send", "--tcp", "127.0.0.1", "GSF"}, 2, "COMMAND"},
                 {{"status", "--serial", "ttyUSB0", "--tcp", "127.0.0.1"}, 2, "either"},
                 {{"status", "--serial", "ttyUSB0", "--baud", "fast"}, 2, "--baud"},
                 {{"identify", "--tcp", "localhost"}, 3, "not a usable address"},
                 {{"identify", "--tcp", nobody}, 3, "could not connect"},
                 {{"status", "--serial", "pts/3"}, 3, "Serial port is not suitable for communication"},
                 {{"status", "--serial", "ttyUSB_none", "--device-dir", "/tmp"}, 3, "could not open serial port"},
                 {{"send", "--tcp", target, "XYZ;"}, 5, "refused"}, {{"send", "--tcp", target, "GIN\\x01;"}, 0, ""}}) {
            const CliRun run = runCli(arguments);
            QVERIFY2(run.exitCode == exitCode && run.err.contains(message),
                     qPrintable(arguments.join(' ') + ": " + QString::number(run.exitCode) + ' ' + run.err));
        }
    }

    // "speed" counts the samples of one second over a pseudo-terminal and over
    // TCP, and reports a stream that does not start.
    void speedCountsTheSamplesOfOneSecond()
    {
        struct Row { Simulator *sim; QStringList link; int rate; };
        for (const Row &row : {Row{&serialSim, {"--serial", port, "--baud", "921600", "--device-dir", devices.path()}, 500},
                               Row{&tcpSim, {"--tcp", target, "--rate", "200"}, 200}}) {
            const qint64 sentBefore = row.sim->counters(0).streamMessagesSent;
            const CliRun run = runCli(QStringList{"speed"} + row.link);
            QCOMPARE(run.exitCode, 0);
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("^Speed Test: (\\d+) of %1 received\n$").arg(row.rate)).match(run.out);
            QVERIFY2(m.hasMatch(), qPrintable(run.out + run.err));
            // Every stream message the controller sent is a sample, except
            // the start reply. A loaded machine may stretch the second (and
            // the count with it), so the count is judged against what was
            // sent; the lower bound catches a measuring time cut short.
            const int count = m.captured(1).toInt();
            QCOMPARE(count, int(row.sim->counters(0).streamMessagesSent - sentBefore - 1));
            QVERIFY2(count >= row.rate / 2, qPrintable(run.out));
        }
        SimFaults faults;
        faults.refuseCodes = {"SLS"};
        tcpSim.setFaults(0, faults);
        const CliRun run = runCli({"speed", "--tcp", target});
        tcpSim.setFaults(0, SimFaults());
        QCOMPARE(run.exitCode, 5);
        QCOMPARE(run.out, QString("Speed Test: Failed - stream couldn't start\n"));
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
