// SerialPort end to end over pseudo-terminals served by the embedded
// controller simulator. Each pty is exposed under an accepted port name as a
// symlink in a temporary device directory.

#include "LinkTestUtil.h"

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

    std::unique_ptr<Simulator> sim;
    std::unique_ptr<QTemporaryDir> devices;

    // A simulated controller, linked into the device directory under an
    // accepted name, and a link started on it.
    std::unique_ptr<SerialPort> startLink(int baud)
    {
        const QStringList ptys = sim->startSerial(1);
        auto link = std::make_unique<SerialPort>();
        link->setDeviceDirectory(devices->path());
        if (ptys.size() != 1 || !QFile::link(ptys.first(), devices->filePath(uniquePortName()))
            || !link->initialize(uniquePortName(), baud))
            return nullptr;
        link->start();
        return link;
    }

private slots:
    void init()
    {
        sim = std::make_unique<Simulator>();
        devices = std::make_unique<QTemporaryDir>();
        QVERIFY(devices->isValid());
    }
    void cleanup() { sim.reset(); }

    void initializeAcceptsOnlySerialInterfaceNames()
    {
        SerialPort link;
        QVERIFY(link.initialize("COM3", 115200));
        QVERIFY(link.initialize("ttyUSB0", 115200));
        QVERIFY(!link.initialize("pts/3", 115200));
        QVERIFY(!link.initialize("myttyUSB0", 115200)); // a prefix, not anywhere in the name
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
        QCOMPARE(link->resynchronisations(), 0);

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
};

QTEST_GUILESS_MAIN(SerialPortTest)
#include "tst_serialport.moc"
