#include "Simulator.h"

#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Writes cmd and collects the reply until `expected` bytes arrived or ms passed.
QByteArray ask(QSerialPort &port, const QByteArray &cmd, int expected, int ms)
{
    port.write(cmd);
    QByteArray reply;
    QDeadlineTimer deadline(ms);
    while (reply.size() < expected && !deadline.hasExpired())
        if (port.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            reply += port.readAll();
    return reply;
}
}

// The pseudo-terminals driven with QSerialPort, as the application does.
class SimSerialTest : public QObject
{
    Q_OBJECT

private slots:
    void answersOnlyAtConfiguredLineSettings_data();
    void answersOnlyAtConfiguredLineSettings();
    void reopenAfterHangUpAndLinks();
};

void SimSerialTest::answersOnlyAtConfiguredLineSettings_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("hardwareFlow");
    QTest::addColumn<bool>("answers");
    QTest::newRow("921600 hw") << 921600 << true << true;
    QTest::newRow("921600 none") << 921600 << false << false;
    QTest::newRow("115200 hw") << 115200 << true << false;
}

void SimSerialTest::answersOnlyAtConfiguredLineSettings()
{
    QFETCH(int, baud);
    QFETCH(bool, hardwareFlow);
    QFETCH(bool, answers);
    Simulator sim;
    SerialOptions opt;
    opt.baud = 921600;
    opt.flow = 1;
    const QStringList paths = sim.startSerial(1, opt);
    QCOMPARE(paths.size(), 1);
    QSerialPort port(paths[0]);
    port.setBaudRate(baud);
    port.setFlowControl(hardwareFlow ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl);
    QVERIFY(port.open(QIODevice::ReadWrite));
    const QByteArray id = ask(port, "GID;", 50, answers ? 3000 : 300);
    QCOMPARE(id.size(), answers ? 50 : 0);
    if (!answers)
        return;
    QVERIFY(id.startsWith(QByteArray("\x00;ORX", 5)));

    // After SBR the controller answers only at the new rate.
    QCOMPARE(ask(port, "SBR\x01;", 2, 3000), QByteArray("\x00;", 2));
    QVERIFY(ask(port, "GSF;", 1, 300).isEmpty());
    QVERIFY(port.setBaudRate(115200));
    QCOMPARE(ask(port, "GSF;", 4, 3000).size(), 4);
}

void SimSerialTest::reopenAfterHangUpAndLinks()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Simulator sim;
    SerialOptions opt;
    opt.linkPath = dir.filePath("ttyUSB0");
    const QStringList paths = sim.startSerial(2, opt);
    QCOMPARE(paths.size(), 2);
    QCOMPARE(QFileInfo(dir.filePath("ttyUSB1")).symLinkTarget(), paths[1]);

    QSerialPort port(dir.filePath("ttyUSB1"));
    QVERIFY(port.open(QIODevice::ReadWrite));
    QCOMPARE(ask(port, QByteArray("SLS\x00\x00\x00\x64;", 8), 25, 3000).size(), 25);
    QVERIFY(sim.isStreaming(1));
    port.close();
    // The hang-up ends the stream; the device can be opened again.
    QTRY_VERIFY_WITH_TIMEOUT(!sim.isStreaming(1), 3000);
    port.setPortName(paths[1]);
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.clear();
    QTRY_COMPARE_WITH_TIMEOUT(ask(port, "GID;", 50, 500).size(), 50, 5000);
    port.close();
    sim.stop();
    QVERIFY(!QFileInfo::exists(dir.filePath("ttyUSB0")));
}

QTEST_GUILESS_MAIN(SimSerialTest)
#include "tst_SimSerial.moc"
