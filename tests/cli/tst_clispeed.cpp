// "beamstab-cli speed" as users run it: the real executable against the
// embedded simulator over a pseudo-terminal at 921600 baud and over TCP.

#include "Simulator.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class CliSpeedTest : public QObject
{
    Q_OBJECT

    Simulator serialSim;
    Simulator tcpSim;
    QTemporaryDir devices;
    const QString port = QStringLiteral("ttyUSB%1").arg(QCoreApplication::applicationPid());

    static int run(const QStringList &arguments, QString &out, QString &err)
    {
        QProcess process;
        process.start(BEAMSTAB_CLI, QStringList{"speed"} + arguments);
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        out = QString::fromLocal8Bit(process.readAllStandardOutput());
        err = QString::fromLocal8Bit(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

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
        QString out, err;
        QCOMPARE(run(link, out, err), 0);
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^Speed Test: (\\d+) of %1 received\n$").arg(rate)).match(out);
        QVERIFY2(m.hasMatch(), qPrintable(out + err));
        // Generous bounds: a loaded machine delays the stop or the
        // simulator, but a count of nothing, of double or of a different
        // time is wrong.
        const int count = m.captured(1).toInt();
        QVERIFY2(count >= rate * 8 / 10 && count <= rate * 12 / 10, qPrintable(out));
    }

    void reportsAStreamThatDoesNotStart()
    {
        SimFaults faults;
        faults.refuseCodes = {"SLS"};
        tcpSim.setFaults(0, faults);
        QString out, err;
        QCOMPARE(run({"--tcp", QStringLiteral("127.0.0.1:%1").arg(tcpSim.port(0))}, out, err), 5);
        QCOMPARE(out, QString("Speed Test: Failed - stream couldn't start\n"));
        tcpSim.setFaults(0, SimFaults());
        QCOMPARE(run({"--tcp", "127.0.0.1:1", "--rate", "501"}, out, err), 2);
    }
};

QTEST_GUILESS_MAIN(CliSpeedTest)
#include "tst_clispeed.moc"
