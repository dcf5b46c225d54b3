// Controller discovery over pseudo-terminals served by the embedded
// simulator. The system's list of serial interfaces is replaced by a fake
// list, and the names resolve in a temporary device directory of symlinks.

#include "LogCapture.h"

#include "Simulator.h"
#include "link/SerialDeviceDirectory.h"
#include "link/SerialDiscovery.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

class FakePorts : public SerialPortProvider
{
public:
    QList<SerialInterfaceInfo> ports;
    QList<SerialInterfaceInfo> availablePorts() const override { return ports; }
};

// Unique per process: serial port lock files are named after the last part
// of the device path and shared machine-wide.
QString portName(const QString &prefix, int index)
{
    return QStringLiteral("%1%2x%3").arg(prefix).arg(QCoreApplication::applicationPid()).arg(index);
}

int countGid(const QList<QByteArray> &commands)
{
    int n = 0;
    for (const QByteArray &c : commands)
        n += c.startsWith("GID") ? 1 : 0;
    return n;
}

} // namespace

class SerialDiscoveryTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCapture> log;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<QTemporaryDir> devices;
    std::shared_ptr<FakePorts> fake;

    // Serves one controller and exposes it as devices/<name>.
    bool serve(const QString &name, const SerialOptions &options = SerialOptions())
    {
        const QStringList ptys = sim->startSerial(1, options);
        return ptys.size() == 1 && QFile::link(ptys.first(), devices->filePath(name));
    }

    QList<QStringList> search(bool pseudoTerminals, bool otherDevices)
    {
        return SerialDiscovery(fake, devices->path()).search(pseudoTerminals, otherDevices);
    }

    int logCount(const QString &line) const { return log->lines().count(line); }
    int linesStartingWith(const QString &text) const
    {
        int n = 0;
        for (const QString &line : log->lines())
            n += line.startsWith(text) ? 1 : 0;
        return n;
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
        fake = std::make_shared<FakePorts>();
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            for (const QString &line : log->lines())
                fprintf(stderr, "  log: %s\n", qPrintable(line));
        sim.reset();
        devices.reset();
    }

    // The line settings are tried in the order 115200/hardware,
    // 115200/none, 921600/hardware, 921600/none; the first that answers wins.
    void findsTheControllerAtTheFirstWorkingLineSetting_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("flow");
        QTest::addColumn<QString>("foundBaud");
        QTest::addColumn<QString>("foundFlow");
        QTest::addColumn<int>("combinations");
        QTest::newRow("any") << 0 << -1 << "115200" << "1" << 1;
        QTest::newRow("115200 without flow control") << 115200 << 0 << "115200" << "0" << 2;
        QTest::newRow("921600 with flow control") << 921600 << 1 << "921600" << "1" << 3;
        QTest::newRow("921600 without flow control") << 921600 << 0 << "921600" << "0" << 4;
    }
    void findsTheControllerAtTheFirstWorkingLineSetting()
    {
        QFETCH(int, baud);
        QFETCH(int, flow);
        QFETCH(QString, foundBaud);
        QFETCH(QString, foundFlow);
        QFETCH(int, combinations);
        const QString name = portName("ttyUSB", 0);
        SerialOptions options;
        options.baud = baud;
        options.flow = flow;
        QVERIFY(serve(name, options));
        fake->ports = {{name, "USB Serial", "FTDI"}};

        const QList<QStringList> found = search(false, false);

        QCOMPARE(found.size(), 1);
        const QString id = QString::fromLatin1(sim->identification(0));
        QCOMPARE(found.first(), (QStringList{id, name, foundBaud, foundFlow}));
        QCOMPARE(linesStartingWith("Flow control"), combinations);
        QCOMPARE(logCount("Interface closed"), combinations);
        QCOMPARE(logCount("Connection timeout"), combinations - 1);
        QCOMPARE(logCount("Received ID " + id), 1);
        QVERIFY(log->contains("Found interface " + name + " USB Serial FTDI"));
        QCOMPARE(log->lines().first(), QString("Searching for serial interfaces"));
        QCOMPARE(log->lines().last(), QString("Search for controllers completed"));
    }

    void onlyFtdiAdaptersUnlessOtherDevicesAreAllowed_data()
    {
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<bool>("otherDevices");
        QTest::addColumn<bool>("found");
        QTest::newRow("FTDI") << "FTDI" << false << true;
        QTest::newRow("other maker") << "Prolific" << false << false;
        QTest::newRow("lower-case ftdi") << "ftdi" << false << false;
        QTest::newRow("other maker with -e") << "Prolific" << true << true;
        QTest::newRow("no maker with -e") << "" << true << true;
    }
    void onlyFtdiAdaptersUnlessOtherDevicesAreAllowed()
    {
        QFETCH(QString, manufacturer);
        QFETCH(bool, otherDevices);
        QFETCH(bool, found);
        const QString name = portName("ttyACM", 0);
        QVERIFY(serve(name));
        fake->ports = {{name, "Adapter", manufacturer}};

        const QList<QStringList> result = search(false, otherDevices);

        QCOMPARE(result.size(), found ? 1 : 0);
        QCOMPARE(log->contains("Skipping interface"), !found);
        QCOMPARE(log->contains("Trying to connect to interface " + name), found);
        QCOMPARE(sim->commandLog(0).isEmpty(), !found);
    }

    void shortIdentificationIsGivenUp()
    {
        SimFaults faults;
        faults.shortIdentification = true;
        sim->setDefaultFaults(faults);
        const QString name = portName("ttyUSB", 0);
        QVERIFY(serve(name));
        fake->ports = {{name, "USB Serial", "FTDI"}};

        QVERIFY(search(false, false).isEmpty());

        // Asked twice at each of the four line settings, then given up.
        QCOMPARE(countGid(sim->commandLog(0)), 8);
        QCOMPARE(logCount("Requesting controller ID"), 8);
        QCOMPARE(logCount("Interface closed"), 4);
        QVERIFY(!log->contains("Received ID"));
    }

    void missingInterfacesAreSkipped()
    {
        const QString missing = portName("ttyUSB", 1);
        const QString present = portName("ttyUSB", 2);
        QVERIFY(serve(present));
        fake->ports = {{missing, "", "FTDI"}, {present, "", "FTDI"}, {"ttyS/../../nowhere", "", "FTDI"}};

        const QList<QStringList> found = search(false, false);

        QCOMPARE(found.size(), 1);
        QCOMPARE(found.first().at(1), present);
        QCOMPARE(found.first().at(2), QString("115200"));
        QCOMPARE(logCount("Interface closed"), 1);
        // Four line settings on each missing interface.
        QCOMPARE(linesStartingWith("Cannot open interface"), 8);
    }

    void pseudoTerminalsAreSearchedOnRequest_data()
    {
        QTest::addColumn<bool>("pseudoTerminals");
        QTest::newRow("included") << true;
        QTest::newRow("left out") << false;
    }
    void pseudoTerminalsAreSearchedOnRequest()
    {
        QFETCH(bool, pseudoTerminals);
        const QStringList ptys = sim->startSerial(1);
        QCOMPARE(ptys.size(), 1);
        QVERIFY(QDir(devices->path()).mkdir("pts"));
        const QString entry = QString::number(QCoreApplication::applicationPid());
        QVERIFY(QFile::link(ptys.first(), devices->filePath("pts/" + entry)));

        const QList<QStringList> found = search(pseudoTerminals, false);

        if (pseudoTerminals) {
            QCOMPARE(found.size(), 1);
            QCOMPARE(found.first().at(1), "pts/" + entry);
            QVERIFY(log->contains("Found pseudo interface " + entry));
        } else {
            QVERIFY(found.isEmpty());
            QVERIFY(!log->contains("Found pseudo interface"));
        }
    }

    void processWideSettingsReachTheSearch()
    {
        const QString name = portName("COM", 0);
        QVERIFY(serve(name));
        fake->ports = {{name, "", "FTDI"}};
        setSerialPortProvider(fake);
        setSerialDeviceDirectory(devices->path());
        const QList<QStringList> found = searchSerialControllers(false, false);
        setSerialPortProvider(nullptr);
        setSerialDeviceDirectory(QString());
        QCOMPARE(serialDeviceDirectory(), QString("/dev/"));
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.first().at(1), name);
    }
};

QTEST_GUILESS_MAIN(SerialDiscoveryTest)
#include "tst_serialdiscovery.moc"
