#include "SimClient.h"
#include "Simulator.h"
#include "With.h"

#include <QSerialPort>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

// The pseudo-terminals driven with QSerialPort, as the application does.
class SimSerialTest : public QObject
{
    Q_OBJECT

private slots:
    void lineSettingsAndHangUp()
    {
        QTemporaryDir dir;
        Simulator sim;
        const QStringList paths = sim.startSerial(2, with<SerialOptions>([&](auto &o) {
            o.baud = 921600, o.flow = 1, o.linkPath = dir.filePath("ttyUSB0");
        }));
        QCOMPARE(QFileInfo(dir.filePath("ttyUSB1")).symLinkTarget(), paths.value(1));
        QSerialPort port(dir.filePath("ttyUSB1"));
        port.setBaudRate(921600);
        port.setFlowControl(QSerialPort::HardwareControl);
        QVERIFY(port.open(QIODevice::ReadWrite));
        SimClient c(&port);
        const QByteArray id = c.exchange("GID;", 50);
        QVERIFY(id.size() == 50);
        QVERIFY(id.startsWith(QByteArray("\x00;ORX", 5)));
        QVERIFY(c.exchange(QByteArray("SLS\x00\x00\x00\x64;", 8), 25).size() == 25);
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

    // Far more output than a pseudo-terminal holds, read only after a pause:
    // every byte arrives, in order, and nothing is counted as lost.
    void outputIsNeverDropped()
    {
        Simulator sim;
        QSerialPort port(sim.startSerial(1).value(0));
        QVERIFY(port.open(QIODevice::ReadWrite));
        SimClient c(&port);
        const QByteArray fram = c.exchange(QByteArray("RFR\x00\x00\xFF;", 7), 258);
        QCOMPARE(fram.size(), 258);
        const int replies = 1000; // 258 kB
        port.write(QByteArray("RFR\x00\x00\xFF;", 7).repeated(replies));
        QVERIFY(port.waitForBytesWritten(3000));
        QThread::msleep(500); // the controller fills the terminal and has to wait
        const QByteArray all = c.exchange({}, 258 * replies, 30000);
        QVERIFY2(all == fram.repeated(replies), qPrintable(QString("%1 bytes").arg(all.size())));
        QCOMPARE(sim.counters(0).bytesDropped + sim.counters(0).bytesNotDelivered, 0);
    }

    // A controller that does not notice the port closing streams on into the void, and is still
    // streaming when the port is opened again.
    void streamSurvivesAReopenWhenAsked()
    {
        Simulator sim;
        QSerialPort port(sim.startSerial(1, with<SerialOptions>([](auto &o) { o.keepStreamOnHangUp = true; })).value(0));
        QVERIFY(port.open(QIODevice::ReadWrite));
        QCOMPARE(SimClient(&port).exchange(QByteArray("SLS\x00\x00\x00\x64;", 8), 25).size(), 25);
        port.close();
        // Nothing is lost silently: what nobody could read is counted.
        QTRY_VERIFY_WITH_TIMEOUT(sim.counters(0).bytesNotDelivered >= 5 * 25, 10000);
        QVERIFY(sim.isStreaming(0));
        QVERIFY(port.open(QIODevice::ReadWrite));
        QCOMPARE(SimClient(&port).exchange({}, 100, 10000).size(), 100);
        QVERIFY(sim.isStreaming(0));
        port.write("CLS;");
        QTRY_VERIFY_WITH_TIMEOUT(!sim.isStreaming(0), 5000);
        QCOMPARE(sim.counters(0).bytesDropped, 0);
    }
};

QTEST_GUILESS_MAIN(SimSerialTest)
#include "tst_SimSerial.moc"
