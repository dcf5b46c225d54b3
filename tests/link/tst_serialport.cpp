// SerialPort end to end over pseudo-terminals served by the embedded
// controller simulator. Each pty is exposed under an accepted port name as a
// symlink in a temporary device directory.

#include "LinkTestUtil.h"
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

    // A link started on the device directory's port; when serve is set, a
    // simulated controller is linked in under that name first.
    std::unique_ptr<SerialPort> startLink(int baud, bool serve = true)
    {
        const QStringList ptys = serve ? sim->startSerial(1) : QStringList();
        if (serve && (ptys.size() != 1 || !QFile::link(ptys.first(), devices->filePath(uniquePortName()))))
            return nullptr;
        auto link = std::make_unique<SerialPort>();
        link->setDeviceDirectory(devices->path());
        if (!link->initialize(uniquePortName(), baud))
            return nullptr;
        link->start();
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
        sim.reset();
        devices.reset();
    }

    void initializeAcceptsOnlySerialInterfaceNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("COM3") << "COM3" << true;
        QTest::newRow("ttyUSB0") << "ttyUSB0" << true;
        QTest::newRow("pts/3") << "pts/3" << false;
        QTest::newRow("usb in the middle") << "myttyUSB0" << false;
    }
    void initializeAcceptsOnlySerialInterfaceNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        SerialPort link;
        QCOMPARE(link.initialize(name, 115200), accepted);
    }

    void opensIdentifiesAndStreamsWithoutLoss()
    {
        auto link = startLink(921600);
        QVERIFY(link && waitUntilConnected(*link));
        const ControllerIdentity identity = identifyController(*link);
        QVERIFY(identity.valid);
        QCOMPARE(identity.controllerId.toLatin1(), sim->identification(0));

        QVERIFY(startStream(*link));
        QByteArray reply;
        const int taken = takeAndStop(*link, 1000, reply).size();
        QCOMPARE(reply, goodReply);
        QVERIFY(!link->isStreaming());
        // The start reply is not stored; every later message is, up to and
        // including the last one.
        QCOMPARE(taken, int(sim->counters(0).streamMessagesSent) - 1);
        QVERIFY(taken > 100);
        QVERIFY(!log->contains("Incomplete stream message"));

        QVERIFY(link->disconnectLink());
        QCOMPARE(link->linkState(), int(Connection::Disconnected));
    }

    void controllerGoingAwayIsReportedOnce()
    {
        auto link = startLink(115200);
        QVERIFY(link && waitUntilConnected(*link));
        QStringList reported;
        connect(link.get(), &Connection::hostDisconnected, this,
                [&reported](const QString &address) { reported << address; }, Qt::QueuedConnection);
        link->getStatusFlags();
        QByteArray reply;
        QVERIFY(link->waitForReply(reply));
        QVERIFY(reported.isEmpty()); // opening and clearing the port are no errors

        sim->stop(); // closes the controller's side of the pty
        QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 10000);
        QTest::qWait(100); // room for a second notice, which must not come
        QCOMPARE(reported, QStringList{uniquePortName()});
    }

    void missingDeviceLeavesTheLinkFailed()
    {
        auto link = startLink(115200, false);
        QVERIFY(link);
        QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 5000);
        QCOMPARE(link->linkState(), int(Connection::Failed));
        link->getStatusFlags();
        QByteArray reply;
        QVERIFY(!link->waitForReply(reply));
    }
};

QTEST_GUILESS_MAIN(SerialPortTest)
#include "tst_serialport.moc"
