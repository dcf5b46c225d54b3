// The command-line tool's serial options and its scan command, run as the
// real executable against a simulated controller on a pseudo-terminal that
// is linked into a temporary device directory.

#include "Simulator.h"

#include <QCoreApplication>
#include <QProcess>
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

} // namespace

class CliSerialTest : public QObject
{
    Q_OBJECT

    Simulator sim;
    QTemporaryDir devices;
    // Unique per test process: serial lock files are shared machine-wide.
    const QString port = QStringLiteral("ttyUSB%1").arg(QCoreApplication::applicationPid());

private slots:
    void initTestCase()
    {
        QVERIFY(devices.isValid());
        SerialOptions options;
        options.linkPath = devices.filePath(port);
        QCOMPARE(sim.startSerial(1, options).size(), 1);
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
        const Run run = runCli(QStringList{"scan", "--device-dir", devices.path()} + arguments);
        QCOMPARE(run.exitCode, 0);
        const QString id = QString::fromLatin1(sim.identification(0));
        const QString line = QStringList{id, port, "115200", "1"}.join('\t') + '\n';
        QCOMPARE(run.out, found ? line : QString());
        QCOMPARE(run.err.contains("no controllers found"), !found);
    }

    void linkCommandsReachASerialController()
    {
        const Run run = runCli({"identify", "--serial", port, "--baud", "921600", "--device-dir", devices.path()});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains("id\t" + QString::fromLatin1(sim.identification(0))));
    }

    void badSerialOptionsAreRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("pseudo-terminal name") << QStringList{"--serial", "pts/3"} << 3
                                              << "Serial port is not suitable for communication";
        QTest::newRow("missing device") << QStringList{"--serial", "ttyUSB_none"} << 3 << "could not open serial port";
        QTest::newRow("both links") << QStringList{"--serial", "ttyUSB0", "--tcp", "127.0.0.1"} << 2 << "either";
        QTest::newRow("baud without port") << QStringList{"--baud", "115200", "--tcp", "127.0.0.1"} << 2 << "--baud";
        QTest::newRow("bad baud") << QStringList{"--serial", "ttyUSB0", "--baud", "fast"} << 2 << "--baud";
    }
    void badSerialOptionsAreRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const Run run = runCli(QStringList{"status", "--device-dir", devices.path()} + arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(CliSerialTest)
#include "tst_cliserial.moc"
