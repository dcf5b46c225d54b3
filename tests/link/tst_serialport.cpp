// SerialPort end to end over pseudo-terminals served by the embedded simulator.

#include "SimulatorLink.h"
#include "With.h"

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
    // Every message read, also in batches beyond the reply wait (the stop must not wait for one).
    void opensIdentifiesAndStreamsWithoutLoss()
    {
        for (int batchMs : {0, Connection::defaultStreamBatchInterval, 5000}) {
            auto link = connectLink(921600);
            QVERIFY(link);
            QCOMPARE(identifyController(*link, batchMs == 0 ? 2 : 0).controllerId.toLatin1(), sim->identification(0));
            link->setStreamBatchInterval(batchMs);
            QVERIFY(startStream(*link));
            QByteArray reply;
            const int taken = takeAndStop(*link, 400, reply).size();
            QVERIFY(reply == goodReply);
            QVERIFY(!link->isStreaming());
            // Every message but the start reply is stored, the last one too.
            QCOMPARE(taken, int(sim->counters(0).streamMessagesSent) - 1);
            QVERIFY(taken > 100);
            QVERIFY(link->resynchronisations() == 0);
            QVERIFY(link->disconnectLink());
            QVERIFY(link->linkState() == Connection::Disconnected);
        }
    }

    void unansweredCommandLeavesTheLinkUsable()
    {
        // After an unanswered command the next one waits for a quiet line; silence is no port
        // error. A link reopened on the same object starts afresh.
        for (bool reopen : {false, true}) {
            auto link = connectLink(115200);
            QVERIFY(link);
            QStringList reported;
            connect(link.get(), &Connection::hostDisconnected, this,
                    [&reported](const QString &address) { reported << address; }, Qt::DirectConnection);
            sim->setFaults(0, with<SimFaults>([](auto &f) { f.silentCodes = {"GAS"}; }));
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
            QVERIFY(link->linkState() == Connection::Connected);
            QVERIFY(reported.isEmpty());
            QCOMPARE(sim->commandLog(0), (QList<QByteArray>{"GAS;", "GID;"}));
        }
    }

    // Also while a stream is read in batches straight from the descriptor,
    // the port going away reaches the port's own error handling.
    void controllerGoingAwayIsReportedOnce()
    {
        for (bool streaming : {false, true}) {
            auto link = connectLink(921600);
            QVERIFY(link);
            QVERIFY(identifyController(*link).valid);
            const auto reported = watchDisconnects(*link, this);
            if (streaming) {
                QVERIFY(startStream(*link));
                QVERIFY(takeFor(*link, 300).size() > 50);
            }
            QTest::qWait(100);
            QVERIFY(reported->isEmpty()); // opening and clearing the port are no errors
            sim->stop(); // closes the controller's side of the pty
            QTRY_VERIFY_WITH_TIMEOUT(link->isFinished(), 10000);
            QTest::qWait(100); // room for a second notice, which must not come
            QCOMPARE(*reported, QStringList{portName});
        }
    }
};

QTEST_GUILESS_MAIN(SerialPortTest)
#include "tst_serialport.moc"
