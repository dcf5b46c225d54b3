#include "SimClient.h"

#include <QProcess>
#include <QtTest>

// The beamstab-sim executable: what it prints, what it serves, how it ends.
class SimCliTest : public QObject
{
    Q_OBJECT

private slots:
    void servesWhatItPrintsAndStopsOnSigterm();
    void rejectsBadOptions_data();
    void rejectsBadOptions();
    void helpListsEveryOption();
};

void SimCliTest::servesWhatItPrintsAndStopsOnSigterm()
{
    QProcess sim;
    sim.start(SIM_EXECUTABLE, {"--port", "0", "--count", "2", "--firmware", "10", "--id", "LAB", "--no-trigger"});
    QVERIFY(sim.waitForStarted(5000));
    QStringList lines;
    while (!lines.contains("ready") && sim.waitForReadyRead(5000))
        while (sim.canReadLine())
            lines << QString::fromLatin1(sim.readLine()).trimmed();
    QCOMPARE(lines.size(), 3);
    QList<quint16> ports;
    for (int i = 0; i < 2; ++i) {
        const QStringList f = lines[i].split(' ');
        QCOMPARE(f.size(), 3);
        QCOMPARE(f[0], QString("tcp"));
        QCOMPARE(f[1].toInt(), i);
        QVERIFY(f[2].startsWith("127.0.0.1:"));
        ports << quint16(f[2].section(':', 1).toUInt());
    }

    SimClient c;
    QVERIFY(c.connectTo(ports[1]));
    const QByteArray id = c.exchange("GID;", 50);
    QCOMPARE(id.size(), 50);
    QVERIFY(id.contains("-V10-"));
    QVERIFY(id.contains("LAB001"));
    QCOMPARE(id[10], 'N');

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
}

void SimCliTest::rejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown option") << QStringList{"--frobnicate"};
    QTest::newRow("flow 2") << QStringList{"--serial-flow", "2"};
    QTest::newRow("garbage without K") << QStringList{"--garbage", "5"};
    QTest::newRow("negative count") << QStringList{"--count", "-1"};
}

void SimCliTest::rejectsBadOptions()
{
    QFETCH(QStringList, args);
    QProcess sim;
    sim.start(SIM_EXECUTABLE, args);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY(sim.readAllStandardOutput().isEmpty());
}

void SimCliTest::helpListsEveryOption()
{
    QProcess sim;
    sim.start(SIM_EXECUTABLE, {"--help"});
    QVERIFY(sim.waitForFinished(5000));
    const QByteArray help = sim.readAllStandardOutput();
    for (const char *o : {"--port", "--count", "--bind", "--firmware", "--variant-m", "--no-trigger", "--id",
                          "--seed", "--pulse-rate", "--bench", "--garbage", "--drop-replies", "--delay-replies",
                          "--refuse", "--stall", "--close-after", "--serial", "--serial-link", "--serial-baud",
                          "--serial-flow", "--duration"})
        QVERIFY2(help.contains(o), o);
}

QTEST_GUILESS_MAIN(SimCliTest)
#include "tst_SimCli.moc"
