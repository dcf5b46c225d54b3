// SerialPort end to end over pseudo-terminals served by the embedded
// controller simulator. Each pty is exposed under an accepted port name as a
// symlink in a temporary device directory.

#include "LogCapture.h"

#include "Simulator.h"
#include "link/Identification.h"
#include "link/SerialPort.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QByteArray good("\x00;", 2);

bool waitUntilConnected(Connection &link)
{
    QElapsedTimer timer;
    timer.start();
    while (link.linkState() != Connection::Connected && !link.isFinished() && timer.elapsed() < 5000)
        QThread::msleep(1);
    return link.linkState() == Connection::Connected;
}

QByteArray rateArguments(int rate)
{
    return QByteArray("\x00\x00", 2) + char(rate >> 8) + char(rate & 0xFF) + ';';
}

// Port names are unique per test process: the serial port lock files are
// named after the last part of the device path and shared machine-wide.
QString uniquePortName()
{
    return QStringLiteral("ttyUSB%1").arg(QCoreApplication::applicationPid());
}

} // namespace

class SerialPortTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCapture> log;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<QTemporaryDir> devices;

    // One simulated controller, linked into the device directory under an
    // accepted name, and a started link to it.
    std::unique_ptr<SerialPort> connectToSimulator(int baud)
    {
        const QStringList ptys = sim->startSerial(1);
        if (ptys.size() != 1 || !QFile::link(ptys.first(), devices->filePath(uniquePortName())))
            return nullptr;
        auto link = std::make_unique<SerialPort>();
        link->setDeviceDirectory(devices->path());
        if (!link->initialize(uniquePortName(), baud))
            return nullptr;
        link->start();
        if (!waitUntilConnected(*link))
            return nullptr;
        return link;
    }

private slots:
    void initTestCase() { log = std::make_unique<LogCapture>(); }
    void cleanupTestCase() { log.reset(); }
    void init()
    {
        log->clear();
        sim = std::make_unique<Simulator>();
        devices = std::make_unique<QTemporaryDir>();
        QVERIFY(devices->isValid());
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            for (const QString &line : log->lines())
                fprintf(stderr, "  log: %s\n", qPrintable(line));
        sim.reset();
        devices.reset();
    }

    void initializeAcceptsOnlySerialInterfaceNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("COM3") << "COM3" << true;
        QTest::newRow("ttyUSB0") << "ttyUSB0" << true;
        QTest::newRow("ttyACM1") << "ttyACM1" << true;
        QTest::newRow("ttyS0") << "ttyS0" << true;
        QTest::newRow("pts/3") << "pts/3" << false;
        QTest::newRow("usb in the middle") << "myttyUSB0" << false;
        QTest::newRow("empty") << "" << false;
    }
    void initializeAcceptsOnlySerialInterfaceNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        SerialPort link;
        QCOMPARE(link.initialize(name, 115200), accepted);
        QCOMPARE(link.address(), name);
        QCOMPARE(link.parameter(), 115200);
        QVERIFY(!link.isTcp());
        QVERIFY(log->contains("Initializing serial connection " + name));
    }

    void opensIdentifiesAndStreamsWithoutLoss()
    {
        auto link = connectToSimulator(921600);
        QVERIFY(link);
        QCOMPARE(link->devicePath(), devices->filePath(uniquePortName()));
        const ControllerIdentity identity = identifyController(*link);
        QVERIFY(identity.valid);
        QCOMPARE(link->firmwareVersion(), 31);
        QCOMPARE(identity.controllerId.toLatin1(), sim->identification(0));

        link->setSamplingRate(500);
        link->startStream(rateArguments(500));
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        QVERIFY(link->isStreaming());
        int taken = 0;
        StreamSample sample;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 1000) {
            while (link->takeSample(sample))
                ++taken;
            QThread::msleep(5);
        }
        link->clearLiveStream();
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply, good);
        QVERIFY(!link->isStreaming());
        while (link->takeSample(sample))
            ++taken;
        // The start reply is not stored; every later message is, up to and
        // including the last one.
        QCOMPARE(taken, int(sim->counters(0).streamMessagesSent) - 1);
        QVERIFY(taken > 100);
        QVERIFY(!log->contains("Incomplete stream message"));

        // Commands go through again after the stream.
        link->getStatusFlags();
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(reply.size(), 4);
        QCOMPARE(reply.left(2), good);

        QVERIFY(link->disconnectLink());
        QCOMPARE(link->linkState(), int(Connection::Disconnected));
        QVERIFY(log->contains("Closing connection"));
    }

    void controllerGoingAwayIsReportedOnce()
    {
        auto link = connectToSimulator(115200);
        QVERIFY(link);
        QStringList reported;
        connect(link.get(), &Connection::hostDisconnected, this,
                [&reported](const QString &address) { reported << address; }, Qt::QueuedConnection);
        link->getStatusFlags();
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        QVERIFY(reported.isEmpty()); // opening and clearing the port are no errors

        sim->stop(); // closes the controller's side of the pty
        QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 10000);
        QTest::qWait(100);
        QCOMPARE(reported, QStringList{uniquePortName()});
        QCOMPARE(log->lines().count("Controller disconnected"), 1);

        link.reset();
        const QStringList lines = log->lines();
        const int serial = lines.lastIndexOf("Deleting serial connection");
        QVERIFY(serial >= 0);
        QCOMPARE(lines.indexOf("Deleting connection", serial), serial + 1);
    }

    void missingDeviceLeavesTheLinkFailed()
    {
        SerialPort link;
        link.setDeviceDirectory(devices->path());
        QVERIFY(link.initialize(uniquePortName(), 115200));
        link.start();
        QTRY_VERIFY_WITH_TIMEOUT(link.isFinished(), 5000);
        QCOMPARE(link.linkState(), int(Connection::Failed));
        link.getStatusFlags();
        QByteArray reply;
        QVERIFY(!link.waitForReply(reply));
    }
};

QTEST_GUILESS_MAIN(SerialPortTest)
#include "tst_serialport.moc"
