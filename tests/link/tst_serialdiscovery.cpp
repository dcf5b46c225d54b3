// Controller discovery over pseudo-terminals served by the embedded
// simulator. The system's list of serial interfaces is replaced by a fake
// list, and the names resolve in a temporary device directory of symlinks.

#include "LogCapture.h"

#include "Simulator.h"
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
QString portName(int index)
{
    return QStringLiteral("ttyUSB%1x%2").arg(QCoreApplication::applicationPid()).arg(index);
}

} // namespace

class SerialDiscoveryTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCapture> log;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<QTemporaryDir> devices;
    std::shared_ptr<FakePorts> fake;

    // Serves controllers and exposes controller i as devices/<names[i]>.
    bool serve(const QStringList &names, const SerialOptions &options = SerialOptions())
    {
        const QStringList ptys = sim->startSerial(names.size(), options);
        for (int i = 0; i < ptys.size(); ++i)
            if (!QFile::link(ptys[i], devices->filePath(names[i])))
                return false;
        return ptys.size() == names.size();
    }

    QList<QStringList> search(bool pseudoTerminals, bool otherDevices)
    {
        return SerialDiscovery(fake, devices->path()).search(pseudoTerminals, otherDevices);
    }

    int logCount(const QString &line) const { return log->lines().count(line); }

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
        SerialOptions options;
        options.baud = baud;
        options.flow = flow;
        QVERIFY(serve({portName(0)}, options));
        fake->ports = {{portName(0), "USB Serial", "FTDI"}};

        const QList<QStringList> found = search(false, false);

        const QString id = QString::fromLatin1(sim->identification(0));
        QCOMPARE(found, (QList<QStringList>{{id, portName(0), foundBaud, foundFlow}}));
        QCOMPARE(logCount("Interface closed"), combinations);
        QCOMPARE(logCount("Connection timeout"), combinations - 1);
    }

    void onlyFtdiAdaptersUnlessOtherDevicesAreAllowed_data()
    {
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<bool>("otherDevices");
        QTest::addColumn<bool>("found");
        QTest::newRow("FTDI") << "FTDI" << false << true;
        QTest::newRow("other maker") << "Prolific" << false << false;
        QTest::newRow("other maker allowed") << "Prolific" << true << true;
    }
    void onlyFtdiAdaptersUnlessOtherDevicesAreAllowed()
    {
        QFETCH(QString, manufacturer);
        QFETCH(bool, otherDevices);
        QFETCH(bool, found);
        QVERIFY(serve({portName(0)}));
        fake->ports = {{portName(0), "Adapter", manufacturer}};

        QCOMPARE(search(false, otherDevices).size(), found ? 1 : 0);
        QCOMPARE(log->contains("Skipping interface"), !found);
        QCOMPARE(sim->commandLog(0).isEmpty(), !found); // a skipped one is not even opened
    }

    // A missing interface, a path outside the device directory and a
    // controller whose identification is one byte short (49 bytes) are
    // passed over; the search still finds the good controller after them.
    void badInterfacesNeverFailTheSearch()
    {
        QVERIFY(serve({portName(0), portName(1)}));
        SimFaults shortId;
        shortId.shortIdentification = true;
        sim->setFaults(0, shortId);
        fake->ports = {{portName(2), "", "FTDI"},
                       {"ttyS/../../nowhere", "", "FTDI"},
                       {portName(0), "", "FTDI"},
                       {portName(1), "", "FTDI"}};

        const QList<QStringList> found = search(false, false);

        QCOMPARE(found.size(), 1);
        QCOMPARE(found.first().mid(1), (QStringList{portName(1), "115200", "1"}));
        // The short one is asked twice at each of the four line settings.
        int asked = 0;
        for (const QByteArray &command : sim->commandLog(0))
            asked += command.startsWith("GID") ? 1 : 0;
        QCOMPARE(asked, 8);
        QCOMPARE(logCount("Interface closed"), 4 + 1);
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
        const QString entry = "pts/" + QString::number(QCoreApplication::applicationPid());
        QVERIFY(QDir(devices->path()).mkdir("pts"));
        QVERIFY(serve({entry}));

        const QList<QStringList> found = search(pseudoTerminals, false);

        QCOMPARE(found.size(), pseudoTerminals ? 1 : 0);
        if (pseudoTerminals)
            QCOMPARE(found.first().at(1), entry);
    }
};

QTEST_GUILESS_MAIN(SerialDiscoveryTest)
#include "tst_serialdiscovery.moc"
