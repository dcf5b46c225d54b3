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

struct FakePorts : SerialPortProvider {
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
    void cleanup() { sim.reset(); }

    // The line settings are tried in the order 115200/hardware,
    // 115200/none, 921600/hardware, 921600/none; the first that answers
    // wins. Adapters not made by FTDI are left alone unless allowed.
    void findsTheControllerAtTheFirstWorkingLineSetting_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("flow");
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<bool>("otherDevices");
        QTest::addColumn<QStringList>("found"); // baud rate and flow control
        QTest::addColumn<int>("combinations");
        QTest::newRow("any") << 0 << -1 << "FTDI" << false << QStringList{"115200", "1"} << 1;
        QTest::newRow("115200 without flow") << 115200 << 0 << "FTDI" << false << QStringList{"115200", "0"} << 2;
        QTest::newRow("921600 with flow") << 921600 << 1 << "FTDI" << false << QStringList{"921600", "1"} << 3;
        QTest::newRow("921600 without flow") << 921600 << 0 << "FTDI" << false << QStringList{"921600", "0"} << 4;
        QTest::newRow("other maker") << 0 << -1 << "Prolific" << false << QStringList() << 0;
        QTest::newRow("other maker allowed") << 0 << -1 << "Prolific" << true << QStringList{"115200", "1"} << 1;
    }
    void findsTheControllerAtTheFirstWorkingLineSetting()
    {
        QFETCH(int, baud);
        QFETCH(int, flow);
        QFETCH(QString, manufacturer);
        QFETCH(bool, otherDevices);
        QFETCH(QStringList, found);
        QFETCH(int, combinations);
        SerialOptions options;
        options.baud = baud;
        options.flow = flow;
        QVERIFY(serve({portName(0)}, options));
        fake->ports = {{portName(0), "USB Serial", manufacturer}};

        const QList<QStringList> result = SerialDiscovery(fake, devices->path()).search(false, otherDevices);

        QList<QStringList> expected;
        if (!found.isEmpty())
            expected << QStringList{QString::fromLatin1(sim->identification(0)), portName(0)} + found;
        QCOMPARE(result, expected);
        // Each setting tried is closed again; a skipped adapter is not even opened.
        QCOMPARE(log->lines().count("Interface closed"), combinations);
        QCOMPARE(sim->commandLog(0).isEmpty(), found.isEmpty());
    }

    // A missing interface, a path outside the device directory and a
    // controller whose identification is one byte short (49 bytes) are
    // passed over; the search still finds the good controller after them,
    // and the pseudo-terminal when asked to.
    void badInterfacesNeverFailTheSearch_data()
    {
        QTest::addColumn<bool>("pseudoTerminals");
        QTest::newRow("with pseudo-terminals") << true;
        QTest::newRow("without pseudo-terminals") << false;
    }
    void badInterfacesNeverFailTheSearch()
    {
        QFETCH(bool, pseudoTerminals);
        const QString pts = "pts/" + QString::number(QCoreApplication::applicationPid());
        QVERIFY(QDir(devices->path()).mkdir("pts"));
        QVERIFY(serve({portName(0), portName(1), pts}));
        SimFaults shortId;
        shortId.shortIdentification = true;
        sim->setFaults(0, shortId);
        fake->ports = {{portName(2), "", "FTDI"}, {"ttyS/../../nowhere", "", "FTDI"},
                       {portName(0), "", "FTDI"}, {portName(1), "", "FTDI"}};

        QStringList ports;
        for (const QStringList &controller : SerialDiscovery(fake, devices->path()).search(pseudoTerminals, false))
            ports << controller.at(1);
        QCOMPARE(ports, pseudoTerminals ? (QStringList{pts, portName(1)}) : QStringList{portName(1)});
        // The short one is asked twice at each of the four line settings.
        QCOMPARE(sim->commandLog(0).count("GID;"), 8);
    }
};

QTEST_GUILESS_MAIN(SerialDiscoveryTest)
#include "tst_serialdiscovery.moc"
