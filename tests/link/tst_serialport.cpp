// SerialPort end to end over pseudo-terminals served by the embedded simulator.

#include "SimulatorLink.h"

#include "link/Identification.h"
#include "link/SerialPort.h"

class SerialPortTest : public QObject
{
    Q_OBJECT

    const QString portName = QStringLiteral("ttyUSB%1").arg(QCoreApplication::applicationPid());
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<QTemporaryDir> devices;

    std::unique_ptr<SerialPort> connectLink(int baud)
    {
        sim = std::make_unique<Simulator>();
        devices = std::make_unique<QTemporaryDir>();
        auto link = std::make_unique<SerialPort>();
        link->setDeviceDirectory(devices->path());
        if (!serveSerial(*sim, *devices, {portName}) || !link->initialize(portName, baud))
            return nullptr;
        link->start();
        return waitUntilConnected(*link) ? std::move(link) : nullptr;
    }

private slots:
    void initializeAcceptsOnlySerialInterfaceNames()
    {
        SerialPort link;
        QVERIFY(link.initialize("COM3", 115200) && link.initialize("ttyUSB0", 115200));
        QVERIFY(!link.initialize("pts/3", 115200));
        QVERIFY(!link.initialize("myttyUSB0", 115200)); // a prefix, not anywhere in the name
    }

    void opensIdentifiesAndStreamsWithoutLoss_data()
    {
        QTest::addColumn<int>("batchMs");
        QTest::newRow("every message") << 0;
        QTest::newRow("default batch") << Connection::defaultStreamBatchInterval;
        QTest::newRow("batch beyond the reply wait") << 5000; // the stop must not wait for it
    }
    void opensIdentifiesAndStreamsWithoutLoss()
    {
        QFETCH(int, batchMs);
        auto link = connectLink(921600);
        QVERIFY(link);
        QCOMPARE(identifyController(*link, batchMs == 0 ? 2 : 0).controllerId.toLatin1(), sim->identification(0));
        link->setStreamBatchInterval(batchMs);
        QVERIFY(startStream(*link));
        QByteArray reply;
        const int taken = takeAndStop(*link, 400, reply).size();
        QCOMPARE(reply, goodReply);
        QVERIFY(!link->isStreaming());
        // Every message but the start reply is stored, the last one too.
        QCOMPARE(taken, int(sim->counters(0).streamMessagesSent) - 1);
        QVERIFY(taken > 100);
        QCOMPARE(link->resynchronisations(), 0);
        QVERIFY(link->disconnectLink());
        QCOMPARE(link->linkState(), int(Connection::Disconnected));
    }

    void unansweredCommandLeavesTheLinkUsable_data()
    {
        QTest::addColumn<bool>("reopen");
        QTest::newRow("same run") << false;
        QTest::newRow("reopened") << true;
    }
    void unansweredCommandLeavesTheLinkUsable()
    {
        // After a command goes unanswered the next one waits for a quiet
        // line; waiting on a serial port that stays silent is no error of
        // the port. A link reopened on the same object starts afresh.
        QFETCH(bool, reopen);
        auto link = connectLink(115200);
        QVERIFY(link);
        QStringList reported;
        connect(link.get(), &Connection::hostDisconnected, this,
                [&reported](const QString &address) { reported << address; }, Qt::DirectConnection);
        SimFaults faults;
        faults.silentCodes = {"GAS"};
        sim->setFaults(0, faults);
        sim->clearCommandLog(0);
        link->getActiveSignal();
        QByteArray reply;
        QVERIFY(!link->waitForReply(reply));
        if (reopen) {
            QVERIFY(link->disconnectLink());
            QVERIFY(link->initialize(portName, 115200));
            link->start();
            QVERIFY(waitUntilConnected(*link));
        }
        link->getControllerId();
        QVERIFY(link->waitForReply(reply));
        QCOMPARE(parseIdentification(reply).controllerId.toLatin1(), sim->identification(0));
        QVERIFY(link->isRunning());
        QCOMPARE(link->linkState(), int(Connection::Connected));
        QVERIFY(reported.isEmpty());
        QCOMPARE(sim->commandLog(0), (QList<QByteArray>{"GAS;", "GID;"}));
    }

    void controllerGoingAwayIsReportedOnce()
    {
        auto link = connectLink(115200);
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
        QTest::qWait(100); // room for a second notice, which must not come
        QCOMPARE(reported, QStringList{portName});
    }

    // While a stream is read in batches straight from the descriptor, the
    // port going away still reaches the port's own error handling.
    void controllerGoingAwayMidStreamIsReportedOnce()
    {
        auto link = connectLink(921600);
        QVERIFY(link && identifyController(*link).valid);
        QStringList reported;
        connect(link.get(), &Connection::hostDisconnected, this,
                [&reported](const QString &address) { reported << address; }, Qt::QueuedConnection);
        QVERIFY(startStream(*link));
        QVERIFY(takeFor(*link, 300).size() > 50);
        sim->stop();
        QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 10000);
        QTest::qWait(100);
        QCOMPARE(reported, QStringList{portName});
    }
};

QTEST_GUILESS_MAIN(SerialPortTest)
#include "tst_serialport.moc"
