// "beamstab-cli speed" as users run it: the real executable against the
// embedded simulator over a pseudo-terminal at 921600 baud and over TCP.

#include "CliRun.h"
#include "Simulator.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

class CliSpeedTest : public QObject
{
    Q_OBJECT

    Simulator serialSim;
    Simulator tcpSim;
    QTemporaryDir devices;
    const QString port = QStringLiteral("ttyUSB%1").arg(QCoreApplication::applicationPid());

private slots:
    void initTestCase()
    {
        SerialOptions options;
        options.baud = 921600;
        options.linkPath = devices.filePath(port);
        QCOMPARE(serialSim.startSerial(1, options).size(), 1);
        QVERIFY(tcpSim.start(0, 1));
    }

    void countsTheSamplesOfOneSecond_data()
    {
        QTest::addColumn<QStringList>("link");
        QTest::addColumn<int>("rate");
        QTest::newRow("pty 921600") << QStringList{"--serial", port, "--baud", "921600", "--device-dir", devices.path()}
                                    << 500;
        QTest::newRow("tcp 200 Hz") << QStringList{"--tcp", QStringLiteral("127.0.0.1:%1").arg(tcpSim.port(0)),
                                                   "--rate", "200"}
                                    << 200;
    }
    void countsTheSamplesOfOneSecond()
    {
        QFETCH(QStringList, link);
        QFETCH(int, rate);
        const CliRun run = runCli(QStringList{"speed"} + link);
        QCOMPARE(run.exitCode, 0);
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^Speed Test: (\\d+) of %1 received\n$").arg(rate)).match(run.out);
        QVERIFY2(m.hasMatch(), qPrintable(run.out + run.err));
        // Generous bounds: a loaded machine delays the stop (more samples) or
        // the simulator, but a count of nothing, of double or of another time is wrong.
        const int count = m.captured(1).toInt();
        QVERIFY2(count >= rate * 8 / 10 && count < rate * 19 / 10, qPrintable(run.out));
    }

    void reportsAStreamThatDoesNotStart()
    {
        SimFaults faults;
        faults.refuseCodes = {"SLS"};
        tcpSim.setFaults(0, faults);
        const CliRun run = runCli({"speed", "--tcp", QStringLiteral("127.0.0.1:%1").arg(tcpSim.port(0))});
        QCOMPARE(run.exitCode, 5);
        QCOMPARE(run.out, QString("Speed Test: Failed - stream couldn't start\n"));
        QCOMPARE(runCli({"speed", "--tcp", "127.0.0.1:1", "--rate", "501"}).exitCode, 2);
    }
};

QTEST_GUILESS_MAIN(CliSpeedTest)
#include "tst_clispeed.moc"
