// The command-line tool as users run it: the real executable against the
// embedded simulator, checking output, files and exit codes.

#include "Simulator.h"

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

    Simulator sim;
    QString target;

private slots:
    void initTestCase()
    {
        QVERIFY(sim.start(0, 1));
        target = QStringLiteral("127.0.0.1:%1").arg(sim.port(0));
    }

    void identifyPrintsTheController()
    {
        const Run run = runCli({"identify", "--tcp", target});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(valueOf(run.out, "id").toLatin1(), sim.identification(0));
        QCOMPARE(valueOf(run.out, "firmware"), QString("31"));
    }

    void streamCountsAndRecordsEverySample()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("samples.tsv");
        const qint64 before = sim.counters(0).streamMessagesSent;
        const Run run = runCli({"stream", "--tcp", target, "--rate", "500", "--seconds", "1", "--out", file});
        QCOMPARE(run.exitCode, 0);
        const qint64 sent = sim.counters(0).streamMessagesSent - before;
        const int samples = valueOf(run.out, "samples").toInt();
        // Everything but the start reply is a sample, the last message included.
        QCOMPARE(samples, int(sent - 1));
        QVERIFY(qAbs(samples - 500) <= 5);
        QFile recorded(file);
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = recorded.readAll().split('\n');
        QCOMPARE(lines.size(), samples + 2); // header and the empty piece after the last newline
        QVERIFY(lines.first().startsWith("time\tstabOn1"));
        QCOMPARE(lines.at(1).split('\t').size(), 17);
    }

    void failuresHaveTheirOwnExitCodes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const QString nobody = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        QTest::newRow("no command") << QStringList{} << 2;
        QTest::newRow("unknown command") << QStringList{"dance"} << 2;
        QTest::newRow("no link") << QStringList{"identify"} << 2;
        QTest::newRow("bad port") << QStringList{"identify", "--tcp", "127.0.0.1:99999"} << 2;
        QTest::newRow("rate 501") << QStringList{"stream", "--tcp", "127.0.0.1", "--rate", "501", "--seconds", "1"}
                                  << 2;
        QTest::newRow("send without ;") << QStringList{"send", "--tcp", "127.0.0.1", "GSF"} << 2;
        QTest::newRow("host name") << QStringList{"identify", "--tcp", "localhost"} << 3;
        QTest::newRow("nobody listening") << QStringList{"identify", "--tcp", nobody} << 3;
        QTest::newRow("refused command") << QStringList{"send", "--tcp", "%TARGET%", "XYZ;"} << 5;
        QTest::newRow("good command") << QStringList{"send", "--tcp", "%TARGET%", "GIN\\x01;"} << 0;
    }
    void failuresHaveTheirOwnExitCodes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        arguments.replaceInStrings("%TARGET%", target);
        const Run run = runCli(arguments);
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode != 0)
            QVERIFY(!run.err.isEmpty());
    }

    void controllerThatWillNotIdentifyIsReported()
    {
        SimFaults faults;
        faults.refuseCodes = {"GID"};
        sim.setFaults(0, faults);
        const Run run = runCli({"identify", "--tcp", target});
        sim.setFaults(0, SimFaults());
        QCOMPARE(run.exitCode, 4);
        QVERIFY(run.err.contains("System identification failed"));
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
