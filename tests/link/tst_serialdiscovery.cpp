// Discovery over simulated controllers on pseudo-terminals, in a fake port list.

#include "LogCapture.h"
#include "SimulatorLink.h"

#include "link/SerialDiscovery.h"

#include <QDir>
#include <QRegularExpression>
#include <QSerialPort>

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

private:
    // The line settings in the order they are tried.
    const QList<QStringList> settingsOrder{{"115200", "1"}, {"115200", "0"}, {"921600", "1"}, {"921600", "0"}};

    // Runs a search; one that found nothing is run again (at most three
    // times): each setting gets a fixed 100 ms to answer, which a machine
    // under heavy load can miss.
    QList<QStringList> search(bool pseudoTerminals, bool otherDevices, bool retry)
    {
        QList<QStringList> found;
        for (int attempt = 0; attempt < (retry ? 3 : 1) && found.isEmpty(); ++attempt) {
            log->clear();
            found = SerialDiscovery(fake, devices->path()).search(pseudoTerminals, otherDevices);
        }
        return found;
    }

    // The command log of a probed controller: per line setting two stops and,
    // when the second was answered, one or two identification requests (the
    // second only when the first came too late). How many settings reached
    // it is not counted: on a busy machine a reopened port can miss one.
    static bool probedInPairs(const QList<QByteArray> &commands, int *identified)
    {
        QByteArray joined;
        for (const QByteArray &c : commands)
            joined += c;
        const QRegularExpression pattern(QStringLiteral("^(CLS;CLS;(GID;){0,2})+$"));
        *identified = int(joined.count("GID;"));
        return pattern.match(QString::fromLatin1(joined)).hasMatch();
    }

private slots:
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
            SerialOptions options;
            options.baud = baud;
            options.flow = flow;
            QVERIFY(serveSerial(*sim, *devices, {portName(0)}, options));
            fake->ports = {{portName(0), "USB Serial", maker}};
            const QList<QStringList> found = search(false, otherDevices, !answersAt.isEmpty());
            if (answersAt.isEmpty()) {
                QVERIFY(found.isEmpty());
                QVERIFY(sim->commandLog(0).isEmpty()); // never opened
                QCOMPARE(log->lines().count("Interface closed"), 0);
                continue;
            }
            QCOMPARE(found.size(), 1);
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
        SimFaults shortId;
        shortId.shortIdentification = true;
        sim->setFaults(0, shortId);
        SimFaults foreign;
        foreign.foreignIdentification = true;
        sim->setFaults(3, foreign);
        fake->ports = {{portName(2), "", "FTDI"}, {"ttyS/../../nowhere", "", "FTDI"},
                       {portName(0), "", "FTDI"}, {portName(3), "", "FTDI"}, {portName(1), "", "FTDI"}};
        for (bool pseudoTerminals : {false, true}) {
            QStringList ports;
            for (const QStringList &controller : search(pseudoTerminals, false, true))
                ports << controller.at(1);
            QCOMPARE(ports, pseudoTerminals ? (QStringList{pts, portName(1)}) : QStringList{portName(1)});
        }
        // Each refused one is asked twice at each line setting where it answered the stop.
        for (int refused : {0, 3}) {
            int identified = 0;
            QVERIFY2(probedInPairs(sim->commandLog(refused), &identified),
                     sim->commandLog(refused).join(' ').constData());
            QVERIFY(identified > 0);
        }
    }

    // A controller left streaming by a crashed program: the first stop meets
    // the stream, the second gets the plain acknowledge, then it identifies.
    void streamingControllerIsStoppedTwiceThenFound()
    {
        SerialOptions options;
        options.keepStreamOnHangUp = true;
        QVERIFY(serveSerial(*sim, *devices, {portName(0)}, options));
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
        const QList<QByteArray> commands = sim->commandLog(0);
        QCOMPARE(commands.mid(0, 3), (QList<QByteArray>{"CLS;", "CLS;", "GID;"}));
    }
};

QTEST_GUILESS_MAIN(SerialDiscoveryTest)
#include "tst_serialdiscovery.moc"
