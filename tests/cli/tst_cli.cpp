// The command-line tool as users run it against the embedded simulator, over TCP and
// over a pseudo-terminal linked into a temporary device directory.

#include "Simulator.h"
#include "With.h"

#include <QTcpServer>
#include <QtTest>

struct CliRun
{
    int exitCode = -1; // -1: crashed or hung
    QString out, err;
};

static CliRun runCli(const QStringList &arguments)
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
static QString valueOf(const QString &output, const QString &key)
{
    const QStringList lines = output.split('\n').filter(QRegularExpression('^' + key + '\t'));
    return lines.isEmpty() ? QString() : lines.first().section('\t', 1, 1);
}

class CliTest : public QObject
{
    Q_OBJECT

    Simulator tcpSim, serialSim;
    QString target;
    QTemporaryDir devices;
    // Unique per test process: serial lock files are shared machine-wide.
    const QString port = QStringLiteral("ttyUSB%1").arg(QCoreApplication::applicationPid());

private slots:
    void initTestCase()
    {
        QVERIFY(tcpSim.start(0, 1));
        target = QStringLiteral("127.0.0.1:%1").arg(tcpSim.port(0));
        QCOMPARE(serialSim.startSerial(1, with<SerialOptions>([&](auto &o) { o.linkPath = devices.filePath(port); })).size(), 1);
    }

    void identifyReachesTcpAndSerialControllers()
    {
        CliRun run = runCli({"identify", "--serial", port, "--baud", "921600", "--device-dir", devices.path()});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(valueOf(run.out, "id").toLatin1() + valueOf(run.out, "firmware").toLatin1(), serialSim.identification(0) + "31");
        // A controller that will not identify is reported.
        tcpSim.setFaults(0, with<SimFaults>([](auto &f) { f.refuseCodes = {"GID"}; }));
        run = runCli({"identify", "--tcp", target});
        tcpSim.setFaults(0, SimFaults());
        QVERIFY2(run.exitCode == 4, qPrintable(run.err));
        QVERIFY2(run.err.contains("System identification failed"), qPrintable(run.err));
    }

    // One reply (intensity of stage 1) 1.7 s late: that line is an error,
    // every other line as without the fault, and the exit code says so.
    void statusWithOneLateReply()
    {
        // Stage 1 off, stage 2 on: the decoded lines must agree with the
        // flags byte, stage by stage, and the active flags with the active signals.
        for (const char *command : {"CEA\\x01;", "SEA\\x02;"})
            QCOMPARE(runCli({"send", "--tcp", target, command}).exitCode, 0);
        const CliRun clean = runCli({"status", "--tcp", target});
        QCOMPARE(clean.exitCode, 0);
        const int flags = valueOf(clean.out, "flags").mid(2).toInt(nullptr, 16);
        const int active[2] = {(flags >> 5) & 1, (flags >> 6) & 1};
        QVERIFY2((flags & 0x18) == 0x10, qPrintable(clean.out));
        QVERIFY2(clean.out.contains("stabilization\t0\t1\n"), qPrintable(clean.out));
        QVERIFY2(clean.out.contains(QString("active\t%1\t%2\n").arg(active[0]).arg(active[1])), qPrintable(clean.out));
        QVERIFY2(clean.out.contains(QString("activeSignal\t%1\t%2\n").arg(active[0]).arg(active[1])), qPrintable(clean.out));
        tcpSim.setFaults(0, with<SimFaults>([](auto &f) { f.replyDelayByPrefix = {{QByteArray("GIN\x01", 4), 1700}}; }));
        const CliRun run = runCli({"status", "--tcp", target});
        tcpSim.setFaults(0, SimFaults());
        runCli({"send", "--tcp", target, "CEA\\x02;"});
        QCOMPARE(run.exitCode, 5);
        QVERIFY2(run.out.contains("intensity1\tno valid reply"), qPrintable(run.out));
        // Settings and flags do not change between the runs; measured values
        // (intensity, common detector) only need to be there.
        for (const char *key : {"flags", "stabilization", "active", "activeSignal", "pFactor1", "sensitivity1",
                                "adjustIn1x", "adjustIn1y", "pFactor2", "sensitivity2", "adjustIn2x", "adjustIn2y"}) {
            QVERIFY2(!valueOf(clean.out, key).isEmpty(), key);
            QVERIFY2(valueOf(run.out, key) == valueOf(clean.out, key), key);
        }
        QVERIFY(QRegularExpression("^\\d+$").match(valueOf(run.out, "intensity2")).hasMatch());
        QVERIFY(!valueOf(run.out, "commonDetector").isEmpty());
        QVERIFY(run.out.count("no valid reply") == 1);
    }

    // A start that is never answered is stopped; a stop that is never confirmed fails the run.
    void streamFailuresStopAndExitFive()
    {
        for (auto [silent, message] : std::initializer_list<std::pair<QByteArray, QString>>{
                 {"SLS", "did not start"}, {"CLS", "did not stop"}}) {
            tcpSim.setFaults(0, with<SimFaults>([&](auto &f) { f.silentCodes = {silent}; }));
            tcpSim.clearCommandLog(0);
            QElapsedTimer timer;
            timer.start();
            const CliRun run = runCli({"stream", "--tcp", target, "--rate", "100", "--seconds", "1"});
            const qint64 elapsed = timer.elapsed();
            tcpSim.setFaults(0, SimFaults());
            QCOMPARE(run.exitCode, 5);
            QVERIFY2(run.err.contains(message), qPrintable(run.err));
            const QList<QByteArray> log = tcpSim.commandLog(0);
            QVERIFY2(log.indexOf(QByteArray("SLS\x00\x00\x00\x64;", 8)) >= 0, qPrintable(log.join(' ').toHex(' ')));
            QVERIFY2(log.last() == "CLS;", qPrintable(log.join(' ').toHex(' ')));
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
        // Everything but the start reply is a sample, the last message included.
        const int samples = valueOf(run.out, "samples").toInt();
        QCOMPARE(samples, int(tcpSim.counters(0).streamMessagesSent - before - 1));
        QCOMPARE(valueOf(run.out, "dropped") + valueOf(run.out, "lines"), "0" + QString::number(samples));
        QVERIFY2(!run.err.contains("dropped"), qPrintable(run.err)); // drained in time: no warning
        QFile recorded(file);
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        QVERIFY(QFile::exists(file + ".json"));
        const QList<QByteArray> lines = recorded.readAll().split('\n');
        QCOMPARE(lines.size(), samples + 4); // three header lines, the empty piece after the last newline
        // The line format is the recorder's; the tool chooses volts and starts the clock.
        QVERIFY(lines.at(1).startsWith("ms\tX1(V)\tY1(V)\tI1(V)"));
        QVERIFY(lines.at(3).startsWith("0\t"));
    }

    // Device files carry no maker, so they count as non-FTDI interfaces: found with --all.
    void scanListsTheControllersFound()
    {
        CliRun run = runCli({"scan", "--device-dir", devices.path(), "--all"});
        for (int retry = 0; run.out.isEmpty() && retry < 2; ++retry) // every setting too slow
            run = runCli({"scan", "--device-dir", devices.path(), "--all"});
        QCOMPARE(run.exitCode, 0);
        // Any line setting: the first is taken unless it missed its 100 ms on a busy machine.
        static const QRegularExpression line("^([^\t]+)\t([^\t]+)\t(115200|921600)\t[01]\n$");
        const QStringList fields = line.match(run.out).capturedTexts().mid(1, 2);
        QCOMPARE(fields, (QStringList{QString::fromLatin1(serialSim.identification(0)), port}));
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
                 {{"send", "--tcp", target, "XYZ;"}, 5, "refused"}, {{"send", "--tcp", target, "GIN\\x01;"}, 0, ""},
                 // The command lines themselves: each mistake is named.
                 {{"identify", "--tcp", target, "--frobnicate"}, 2, "'--frobnicate'"},
                 {{"scan", "-frobnicate"}, 2, "'-frobnicate'"},
                 {{"status", "--tcp", target, "--tcp", nobody}, 2, "--tcp given more than once"},
                 {{"stream", "--tcp", target, "--seconds", "1", "--rate"}, 2, "--rate"},
                 {{"stream", "--tcp", target, "--seconds", "1"}, 2, "--rate"},
                 {{"scan", "--all=yes"}, 2, "--all"},
                 {{"status", "--tcp", target, "--baud", "9600"}, 2, "--baud"},
                 {{"identify", "--tcp", target, "extra"}, 2, "unexpected argument 'extra'"},
                 {{"send", "--tcp", target}, 2, "COMMAND"},
                 {{"setup", "a.xml", "b.xml"}, 2, "unexpected argument 'b.xml'"},
                 // --png in either form makes the tool a GUI application, so the
                 // run gets as far as reading the recording.
                 {{"analyze", "/nonexistent/run.csv", "--png=/nonexistent/run.png"}, 3, "cannot read"}}) {
            const CliRun run = runCli(arguments);
            QVERIFY2(run.exitCode == exitCode, qPrintable(arguments.join(' ') + ": " + QString::number(run.exitCode) + ' ' + run.err));
            QVERIFY2(run.err.contains(message), qPrintable(arguments.join(' ') + ": " + QString::number(run.exitCode) + ' ' + run.err));
        }
    }

    // Each command's help comes from its own options: all of them, and no
    // other command's; "help COMMAND" and "-h" give the same text.
    void helpListsTheOptionsOfItsCommand()
    {
        const QStringList link{"--tcp", "--serial", "--baud", "--device-dir"};
        // Command, options its help lists, an option of another command it must not list.
        for (auto [command, options, foreign] : std::initializer_list<std::tuple<QString, QStringList, QString>>{
                 {"identify", link, "--rate"}, {"status", link, "--answer"}, {"send", link + QStringList{"--answer", "COMMAND"}, "--rate"},
                 {"stream", link + QStringList{"--rate", "--seconds", "--out"}, "--answer"},
                 {"speed", link + QStringList{"--rate"}, "--seconds"}, {"scan", {"--all", "--pts", "--device-dir"}, "--tcp"},
                 {"setup", {"FILE"}, "--device-dir"}, {"analyze", {"--segment", "--rate", "--fit-minutes", "--png", "FILE"}, "--tcp"}}) {
            const CliRun help = runCli({command, "--help"});
            QVERIFY2(help.exitCode == 0, qPrintable(command + ": " + help.out + help.err));
            QVERIFY2(help.err.isEmpty(), qPrintable(command + ": " + help.out + help.err));
            QVERIFY2(help.out.startsWith("Usage: beamstab-cli " + command + ' '), qPrintable(command + ": " + help.out + help.err));
            for (const QString &option : options + QStringList{"--help", "--log"})
                QVERIFY2(help.out.contains(QRegularExpression("\\n  (-h, )?" + option + "\\b")), qPrintable(command + ' ' + option));
            QVERIFY2(!help.out.contains(foreign), qPrintable(command + ' ' + foreign));
            for (const QStringList &other : {QStringList{command, "-h"}, QStringList{"help", command}})
                QCOMPARE(runCli(other).out, help.out);
        }
    }

    // Over a pseudo-terminal and TCP; a stream that does not start is reported.
    void speedCountsTheSamplesOfOneSecond()
    {
        struct Row { Simulator *sim; QStringList link; int rate; };
        for (const Row &row : {Row{&serialSim, {"--serial", port, "--baud", "921600", "--device-dir", devices.path()}, 500},
                               Row{&tcpSim, {"--tcp", target, "--rate=200"}, 200}}) {
            const qint64 sentBefore = row.sim->counters(0).streamMessagesSent;
            const CliRun run = runCli(QStringList{"speed"} + row.link);
            QCOMPARE(run.exitCode, 0);
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("^Speed Test: (\\d+) of %1 received\n$").arg(row.rate)).match(run.out);
            QVERIFY2(m.hasMatch(), qPrintable(run.out + run.err));
            // Every stream message sent but the start reply is a sample. A loaded machine may stretch
            // the second, so the count is judged against what was sent; the lower bound catches a cut.
            const int count = m.captured(1).toInt();
            QCOMPARE(count, int(row.sim->counters(0).streamMessagesSent - sentBefore - 1));
            QVERIFY2(count >= row.rate / 2, qPrintable(run.out));
        }
        tcpSim.setFaults(0, with<SimFaults>([](auto &f) { f.refuseCodes = {"SLS"}; }));
        const CliRun run = runCli({"speed", "--tcp", target});
        tcpSim.setFaults(0, SimFaults());
        QCOMPARE(run.exitCode, 5);
        QCOMPARE(run.out, QString("Speed Test: Failed - stream couldn't start\n"));
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
