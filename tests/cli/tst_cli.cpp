// The command-line tool as users run it: the real executable against the
// embedded simulator, over TCP and over a pseudo-terminal linked into a
// temporary device directory, checking output, files and exit codes.

#include "Simulator.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runCli(const QStringList &arguments)
{
    QProcess process;
    process.start(BEAMSTAB_CLI, arguments);
    Run run;
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

QString valueOf(const QString &output, const QString &key)
{
    for (const QString &line : output.split('\n'))
        if (line.startsWith(key + '\t'))
            return line.section('\t', 1, 1);
    return {};
}

} // namespace

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
        Run run = runCli({"identify", "--tcp", target});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(valueOf(run.out, "id").toLatin1(), tcpSim.identification(0));
        QCOMPARE(valueOf(run.out, "firmware"), QString("31"));
        run = runCli({"identify", "--serial", port, "--baud", "921600", "--device-dir", devices.path()});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(valueOf(run.out, "id").toLatin1(), serialSim.identification(0));
    }

    void streamCountsAndRecordsEverySample()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("samples.tsv");
        const qint64 before = tcpSim.counters(0).streamMessagesSent;
        const Run run = runCli({"stream", "--tcp", target, "--rate", "500", "--seconds", "1", "--out", file});
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
        QCOMPARE(lines.size(), samples + 2); // header and the empty piece after the last newline
        QVERIFY(lines.first().startsWith("time\tstabOn1"));
        QCOMPARE(lines.at(1).split('\t').size(), 17);
    }

    void scanListsTheControllersFound_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("found");
        QTest::newRow("--all") << QStringList{"--all"} << true;
        // Device files carry no maker, so they count as non-FTDI interfaces.
        QTest::newRow("FTDI only") << QStringList{} << false;
    }
    void scanListsTheControllersFound()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, found);
        Run run = runCli(QStringList{"scan", "--device-dir", devices.path()} + arguments);
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

    void failuresHaveTheirOwnExitCodes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const QString nobody = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        const QStringList stream{"stream", "--tcp", "127.0.0.1", "--seconds", "1", "--rate"};
        QTest::newRow("no command") << QStringList{} << 2 << "usage";
        QTest::newRow("unknown command") << QStringList{"dance"} << 2 << "unknown command";
        QTest::newRow("no link") << QStringList{"identify"} << 2 << "--tcp";
        QTest::newRow("bad port") << QStringList{"identify", "--tcp", "127.0.0.1:99999"} << 2 << "port";
        QTest::newRow("rate 501") << stream + QStringList{"501"} << 2 << "--rate";
        QTest::newRow("send without ;") << QStringList{"send", "--tcp", "127.0.0.1", "GSF"} << 2 << "COMMAND";
        QTest::newRow("both links") << QStringList{"status", "--serial", "ttyUSB0", "--tcp", "127.0.0.1"} << 2
                                    << "either";
        QTest::newRow("bad baud") << QStringList{"status", "--serial", "ttyUSB0", "--baud", "fast"} << 2 << "--baud";
        QTest::newRow("host name") << QStringList{"identify", "--tcp", "localhost"} << 3 << "not a usable address";
        QTest::newRow("nobody listening") << QStringList{"identify", "--tcp", nobody} << 3 << "could not connect";
        QTest::newRow("pseudo-terminal name") << QStringList{"status", "--serial", "pts/3"} << 3
                                              << "Serial port is not suitable for communication";
        QTest::newRow("missing device") << QStringList{"status", "--serial", "ttyUSB_none", "--device-dir", "/tmp"}
                                        << 3 << "could not open serial port";
        QTest::newRow("refused command") << QStringList{"send", "--tcp", "%TARGET%", "XYZ;"} << 5 << "refused";
        QTest::newRow("good command") << QStringList{"send", "--tcp", "%TARGET%", "GIN\\x01;"} << 0 << "";
    }
    void failuresHaveTheirOwnExitCodes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        arguments.replaceInStrings("%TARGET%", target);
        const Run run = runCli(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }

    void controllerThatWillNotIdentifyIsReported()
    {
        SimFaults faults;
        faults.refuseCodes = {"GID"};
        tcpSim.setFaults(0, faults);
        const Run run = runCli({"identify", "--tcp", target});
        tcpSim.setFaults(0, SimFaults());
        QCOMPARE(run.exitCode, 4);
        QVERIFY(run.err.contains("System identification failed"));
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
