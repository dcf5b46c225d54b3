// Discovery over simulated controllers on pseudo-terminals, in a fake port list.

#include "LogCapture.h"
#include "SimulatorLink.h"

#include "link/SerialDiscovery.h"

#include <QDir>

struct FakePorts : SerialPortProvider {
    QList<SerialInterfaceInfo> ports;
    QList<SerialInterfaceInfo> availablePorts() const override { return ports; }
};

static QString portName(int index)
{
    return QStringLiteral("ttyUSB%1x%2").arg(QCoreApplication::applicationPid()).arg(index);
}

class SerialDiscoveryTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCapture> log;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<QTemporaryDir> devices;
    std::shared_ptr<FakePorts> fake;

private slots:
    void initTestCase() { log = std::make_unique<LogCapture>(); }
    void init()
    {
        log->clear();
        sim = std::make_unique<Simulator>();
        devices = std::make_unique<QTemporaryDir>();
        fake = std::make_shared<FakePorts>();
    }
    void cleanup() { sim.reset(); }

    // Tried: 115200/hardware, 115200/none, 921600/hardware, 921600/none, each
    // closed again. Adapters not made by FTDI are not opened unless allowed.
    void findsTheControllerAtTheFirstWorkingLineSetting()
    {
        // Line served, maker, others allowed, setting found, settings tried.
        for (auto [baud, flow, maker, otherDevices, found, tried] :
             std::initializer_list<std::tuple<int, int, QString, bool, QStringList, int>>{
                 {0, -1, "FTDI", false, {"115200", "1"}, 1}, {115200, 0, "FTDI", false, {"115200", "0"}, 2},
                 {921600, 0, "FTDI", false, {"921600", "0"}, 4}, {0, -1, "Prolific", false, {}, 0},
                 {0, -1, "Prolific", true, {"115200", "1"}, 1}}) {
            init();
            SerialOptions options;
            options.baud = baud;
            options.flow = flow;
            QVERIFY(serveSerial(*sim, *devices, {portName(0)}, options));
            fake->ports = {{portName(0), "USB Serial", maker}};
            QList<QStringList> expected;
            if (!found.isEmpty())
                expected << QStringList{QString::fromLatin1(sim->identification(0)), portName(0)} + found;
            QCOMPARE(SerialDiscovery(fake, devices->path()).search(false, otherDevices), expected);
            QCOMPARE(log->lines().count("Interface closed"), tried);
            QCOMPARE(sim->commandLog(0).isEmpty(), found.isEmpty());
        }
    }

    // Missing, outside and 49-byte-identification ports are passed over.
    void badInterfacesNeverFailTheSearch()
    {
        const QString pts = "pts/" + QString::number(QCoreApplication::applicationPid());
        QVERIFY(QDir(devices->path()).mkdir("pts"));
        QVERIFY(serveSerial(*sim, *devices, {portName(0), portName(1), pts}));
        SimFaults shortId;
        shortId.shortIdentification = true;
        sim->setFaults(0, shortId);
        fake->ports = {{portName(2), "", "FTDI"}, {"ttyS/../../nowhere", "", "FTDI"},
                       {portName(0), "", "FTDI"}, {portName(1), "", "FTDI"}};
        for (bool pseudoTerminals : {false, true}) {
            QStringList ports;
            for (const QStringList &controller : SerialDiscovery(fake, devices->path()).search(pseudoTerminals, false))
                ports << controller.at(1);
            QCOMPARE(ports, pseudoTerminals ? (QStringList{pts, portName(1)}) : QStringList{portName(1)});
        }
        // The short one is asked twice at each line setting, in each search.
        QCOMPARE(sim->commandLog(0).count("GID;"), 16);
    }
};

QTEST_GUILESS_MAIN(SerialDiscoveryTest)
#include "tst_serialdiscovery.moc"
