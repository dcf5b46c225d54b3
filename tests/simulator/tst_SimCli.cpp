#include "SimClient.h"

#include <QProcess>
#include <QtTest>

// The beamstab-sim executable: what it prints, what it serves, how it ends.
class SimCliTest : public QObject
{
    Q_OBJECT

private slots:
    void servesWhatItPrintsAndStopsOnSigterm()
    {
        QProcess sim;
        sim.start(SIM_EXECUTABLE, {"--port", "0", "--count", "2", "--firmware", "10", "--id", "LAB", "--no-trigger"});
        QStringList lines;
        while (!lines.contains("ready") && sim.waitForReadyRead(5000))
            while (sim.canReadLine())
                lines << QString::fromLatin1(sim.readLine()).trimmed();
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].startsWith("tcp 0 127.0.0.1:") && lines[1].startsWith("tcp 1 127.0.0.1:"));
        SimClient c;
        QVERIFY(c.connectTo(quint16(lines[1].section(':', 1).toUInt())));
        const QByteArray id = c.exchange("GID;", 50);
        QVERIFY2(id.contains("-V10-") && id.contains("LAB001") && id[10] == 'N', id.constData() + 2);
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
    }

    // --help lists every option; a bad option prints nothing on stdout and exits with 2.
    void arguments()
    {
        for (auto [args, exitCode] : std::initializer_list<std::pair<QStringList, int>>{
                 {{"--help"}, 0}, {{"--frobnicate"}, 2}, {{"--serial-flow", "2"}, 2}, {{"--garbage", "5"}, 2}}) {
            QProcess sim;
            sim.start(SIM_EXECUTABLE, args);
            QVERIFY(sim.waitForFinished(5000));
            QVERIFY2(sim.exitCode() == exitCode, qPrintable(args.join(' ')));
            const QByteArray out = sim.readAllStandardOutput();
            QCOMPARE(out.isEmpty(), exitCode != 0);
            if (exitCode == 0) // the options the tests and the README use
                for (const char *o : {"--port", "--count", "--firmware", "--bench", "--garbage", "--serial", "--duration"})
                    QVERIFY2(out.contains(o), o);
        }
    }
};

QTEST_GUILESS_MAIN(SimCliTest)
#include "tst_SimCli.moc"
