#include "SimClient.h"
#include "Simulator.h"

#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

// The pseudo-terminals driven with QSerialPort, as the application does.
class SimSerialTest : public QObject
{
    Q_OBJECT

private slots:
    void lineSettingsAndHangUp_data();
    void lineSettingsAndHangUp();
};

void SimSerialTest::lineSettingsAndHangUp_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("hardwareFlow");
    QTest::addColumn<bool>("answers");
    QTest::newRow("921600 hw") << 921600 << true << true;
    QTest::newRow("921600 none") << 921600 << false << false;
    QTest::newRow("115200 hw") << 115200 << true << false;
}

void SimSerialTest::lineSettingsAndHangUp()
{
    QFETCH(int, baud);
    QFETCH(bool, hardwareFlow);
    QFETCH(bool, answers);
    QTemporaryDir dir;
    Simulator sim;
    SerialOptions opt;
    opt.baud = 921600;
    opt.flow = 1;
    opt.linkPath = dir.filePath("ttyUSB0");
    const QStringList paths = sim.startSerial(2, opt);
    QCOMPARE(paths.size(), 2);
    QCOMPARE(QFileInfo(dir.filePath("ttyUSB1")).symLinkTarget(), paths[1]);

    QSerialPort port(dir.filePath("ttyUSB1"));
    port.setBaudRate(baud);
    port.setFlowControl(hardwareFlow ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl);
    QVERIFY(port.open(QIODevice::ReadWrite));
    SimClient c(&port);
    const QByteArray id = c.exchange("GID;", 50, answers ? 3000 : 300);
    QCOMPARE(id.size(), answers ? 50 : 0);   // silence at the wrong line settings
    if (!answers)
        return;
    QVERIFY(id.startsWith(QByteArray("\x00;ORX", 5)));
    // After SBR the controller answers only at the new rate.
    QCOMPARE(c.exchange("SBR\x01;", 2), QByteArray("\x00;", 2));
    QVERIFY(c.exchange("GSF;", 1, 300).isEmpty());
    QVERIFY(port.setBaudRate(115200));
    QCOMPARE(c.exchange(QByteArray("SLS\x00\x00\x00\x64;", 8), 25).size(), 25);
    QVERIFY(sim.isStreaming(1));

    // The hang-up ends the stream; the device can be opened again.
    port.close();
    QTRY_VERIFY_WITH_TIMEOUT(!sim.isStreaming(1), 3000);
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.clear();
    QTRY_VERIFY_WITH_TIMEOUT(SimClient(&port).exchange("GID;", 50, 500).startsWith(id.left(5)), 5000);
    port.close();
    sim.stop();
    QVERIFY(!QFileInfo::exists(dir.filePath("ttyUSB0")));
}

QTEST_GUILESS_MAIN(SimSerialTest)
#include "tst_SimSerial.moc"
