#include "SimClient.h"

#include <QProcess>
#include <QtTest>

// The beamstab-sim executable: what it prints, what it serves, how it ends.
class SimCliTest : public QObject
{
    Q_OBJECT

private slots:
    void servesWhatItPrintsStopsOnSigtermAndRefusesBadOptions()
    {
        QProcess sim;
        sim.start(SIM_EXECUTABLE, {"--port", "0", "--count", "2", "--firmware", "10", "--id", "LAB", "--no-trigger"});
        QStringList lines;
        while (!lines.contains("ready") && sim.waitForReadyRead(5000))
            while (sim.canReadLine())
                lines << QString::fromLatin1(sim.readLine()).trimmed();
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].startsWith("tcp 0 127.0.0.1:"));
        QVERIFY(lines[1].startsWith("tcp 1 127.0.0.1:"));
        SimClient c;
        QVERIFY(c.connectTo(quint16(lines[1].section(':', 1).toUInt())));
        const QByteArray id = c.exchange("GID;", 50);
        QVERIFY2(id.contains("-V10-"), id.constData() + 2);
        QVERIFY2(id.contains("LAB001"), id.constData() + 2);
        QVERIFY2(id[10] == 'N', id.constData() + 2);
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QVERIFY(sim.exitStatus() == QProcess::NormalExit);
        QVERIFY(sim.exitCode() == 0);
        // A bad option serves nothing: it prints nothing on stdout and exits with 2.
        for (const QStringList &args : QList<QStringList>{{"--frobnicate"}, {"--serial-flow", "2"}, {"--garbage", "5"}}) {
            QProcess bad;
            bad.start(SIM_EXECUTABLE, args);
            QVERIFY(bad.waitForFinished(5000));
            QVERIFY2(bad.exitCode() == 2, qPrintable(args.join(' ')));
            QVERIFY2(bad.readAllStandardOutput().isEmpty(), qPrintable(args.join(' ')));
        }
    }
};

QTEST_GUILESS_MAIN(SimCliTest)
#include "tst_SimCli.moc"
