// Discovery over simulated controllers on pseudo-terminals, in a fake port list.

#include "LogCapture.h"
#include "SimulatorLink.h"
#include "With.h"

#include "link/SerialDiscovery.h"

#include <QDir>
#include <QRegularExpression>
#include <QSerialPort>

struct FakePorts : SerialPortProvider {
    QList<SerialInterfaceInfo> ports;
    QList<SerialInterfaceInfo> availablePorts() const override { return ports; }
};

static QString portName(int index) { return QStringLiteral("ttyUSB%1x%2").arg(QCoreApplication::applicationPid()).arg(index); }

class SerialDiscoveryTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCapture> log;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<QTemporaryDir> devices;
    std::shared_ptr<FakePorts> fake;

    // The line settings in the order they are tried.
    const QList<QStringList> settingsOrder{{"115200", "1"}, {"115200", "0"}, {"921600", "1"}, {"921600", "0"}};

    // Runs a search, up to three times while it finds nothing: each setting gets
    // a fixed 100 ms to answer, which a machine under heavy load can miss.
    QList<QStringList> search(bool pseudoTerminals, bool otherDevices, bool retry)
    {
        QList<QStringList> found;
        for (int attempt = 0; attempt < (retry ? 3 : 1) && found.isEmpty(); ++attempt) {
            log->clear();
            found = SerialDiscovery(fake, devices->path()).search(pseudoTerminals, otherDevices);
        }
        return found;
    }

    // Per line setting two stops, then one or two identification requests when the second stop was
    // answered (at least once). Settings are not counted: on a busy machine a reopened port can miss one.
    static bool probedInPairs(const QList<QByteArray> &commands)
    {
        const QString joined = QString::fromLatin1(commands.join());
        return joined.contains("GID;") && QRegularExpression("^(CLS;CLS;(GID;){0,2})+$").match(joined).hasMatch();
    }

private slots:
    void initTestCase() { log = std::make_unique<LogCapture>(); }
    void init()
    {
        sim = std::make_unique<Simulator>();
        devices = std::make_unique<QTemporaryDir>();
        fake = std::make_shared<FakePorts>();
    }
    void cleanup() { sim.reset(); }

    // Tried: 115200/hardware, 115200/none, 921600/hardware, 921600/none, each
    // closed again. Adapters not made by FTDI are not opened unless allowed.
    void findsTheControllerAtTheFirstWorkingLineSetting()
    {
        // Line served, maker, others allowed, settings the controller answers at.
        for (auto [baud, flow, maker, otherDevices, answersAt] :
             std::initializer_list<std::tuple<int, int, QString, bool, QList<int>>>{
                 {0, -1, "FTDI", false, {0, 1, 2, 3}}, {115200, 0, "FTDI", false, {1}},
                 {921600, 0, "FTDI", false, {3}}, {0, -1, "Prolific", false, {}},
                 {0, -1, "Prolific", true, {0, 1, 2, 3}}}) {
            init();
            QVERIFY(serveSerial(*sim, *devices, {portName(0)}, with<SerialOptions>([&](auto &o) { o.baud = baud, o.flow = flow; })));
            fake->ports = {{portName(0), "USB Serial", maker}};
            const QList<QStringList> found = search(false, otherDevices, !answersAt.isEmpty());
            QCOMPARE(found.size(), answersAt.isEmpty() ? 0 : 1);
            if (answersAt.isEmpty()) {
                QVERIFY(sim->commandLog(0).isEmpty());
                QVERIFY(!log->contains("Interface closed")); // never opened
                continue;
            }
            QCOMPARE(found[0].mid(0, 2), (QStringList{QString::fromLatin1(sim->identification(0)), portName(0)}));
            // The first setting it answers at, unless that one was too slow this time.
            const int at = settingsOrder.indexOf(found[0].mid(2));
            QVERIFY2(answersAt.contains(at), qPrintable(found[0].join(' ')));
            QCOMPARE(log->lines().count("Interface closed"), at + 1); // later settings are not tried
            if (answersAt.size() == 1)
                QCOMPARE(at, answersAt.first());
        }
    }

    // Missing, outside, 49-byte and foreign identifications are passed over.
    void badInterfacesNeverFailTheSearch()
    {
        const QString pts = "pts/" + QString::number(QCoreApplication::applicationPid());
        QVERIFY(QDir(devices->path()).mkdir("pts"));
        QVERIFY(serveSerial(*sim, *devices, {portName(0), portName(1), pts, portName(3)}));
        sim->setFaults(0, with<SimFaults>([](auto &f) { f.shortIdentification = true; }));
        sim->setFaults(3, with<SimFaults>([](auto &f) { f.foreignIdentification = true; }));
        fake->ports = {{portName(2), "", "FTDI"}, {"ttyS/../../nowhere", "", "FTDI"},
                       {portName(0), "", "FTDI"}, {portName(3), "", "FTDI"}, {portName(1), "", "FTDI"}};
        for (bool pseudoTerminals : {false, true}) {
            QStringList ports;
            for (const QStringList &controller : search(pseudoTerminals, false, true))
                ports << controller.at(1);
            QCOMPARE(ports, pseudoTerminals ? (QStringList{pts, portName(1)}) : QStringList{portName(1)});
        }
        // Each refused one is asked twice at each line setting where it answered the stop.
        for (int refused : {0, 3})
            QVERIFY2(probedInPairs(sim->commandLog(refused)), sim->commandLog(refused).join(' ').constData());
    }

    // A controller left streaming by a crashed program: the first stop meets
    // the stream, the second gets the plain acknowledge, then it identifies.
    void streamingControllerIsStoppedTwiceThenFound()
    {
        QVERIFY(serveSerial(*sim, *devices, {portName(0)}, with<SerialOptions>([](auto &o) { o.keepStreamOnHangUp = true; })));
        fake->ports = {{portName(0), "", "FTDI"}};
        {
            QSerialPort port(devices->filePath(portName(0)));
            QVERIFY(port.open(QIODevice::ReadWrite));
            port.write(QByteArray("SLS\x00\x00\x01\xF4;", 8));
            QVERIFY(port.waitForBytesWritten(3000));
            QTRY_VERIFY_WITH_TIMEOUT(sim->isStreaming(0), 5000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(sim->counters(0).bytesNotDelivered > 0, 10000); // closed, still streaming
        QVERIFY(sim->isStreaming(0));
        sim->clearCommandLog(0);
        const QList<QStringList> found = search(false, false, true);
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].first().toLatin1(), sim->identification(0));
        QVERIFY(!sim->isStreaming(0));
        QCOMPARE(sim->commandLog(0).mid(0, 3), (QList<QByteArray>{"CLS;", "CLS;", "GID;"}));
    }
};

QTEST_GUILESS_MAIN(SerialDiscoveryTest)
#include "tst_serialdiscovery.moc"
