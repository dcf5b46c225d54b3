// The connection settings dialog driven through its widgets against
// simulated controllers over TCP/IP and over pseudo-terminals.

#include "LogCapture.h"
#include "SettingsTestHost.h"
#include "SetupTestUtil.h"
#include "SimulatorLink.h"

#include "app/StartupFlags.h"
#include "link/DirectorySerialPorts.h"
#include "setup/ConnectionWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// One dialog with its host and simulated controllers; members are destroyed
// dialog first, then the links, then the controllers.
struct Rig
{
    Simulator sim;
    SettingsTestHost host;
    SettingsDialog dialog{&host};

    // Generous waits: a busy machine may take long to start a link thread,
    // and a link that fails ends its thread, which ends the wait early.
    Rig()
    {
        host.dialog = &dialog;
        dialog.setConnectWaits({5000, 5000, 5000});
    }

    template<typename T = QPushButton>
    T *w(const char *name)
    {
        T *child = dialog.findChild<T *>(QString::fromLatin1(name));
        if (!child)
            qFatal("no widget %s", name);
        return child;
    }
    QString text(const char *label) { return w<QLabel>(label)->text(); }
    QStringList texts() { return {text("infoLabel"), text("infoLabel2")}; }
    QListWidget *list(bool tcp) { return w<QListWidget>(tcp ? "listWidgetTcp" : "listWidgetSerial"); }
    ConnectionWidget *row(bool tcp, int i) { return qobject_cast<ConnectionWidget *>(list(tcp)->itemWidget(list(tcp)->item(i))); }
    template<typename T = QPushButton>
    T *inRow(bool tcp, int i, const char *name) { return row(tcp, i)->findChild<T *>(QString::fromLatin1(name)); }
    void connectTcp(const QString &address, const QString &port, const QString &label)
    {
        w<QLineEdit>("addressTcpEdit")->setText(address);
        w<QLineEdit>("portLineEdit")->setText(port);
        w<QLineEdit>("labelTcpEdit")->setText(label);
        w("connectTcpButton")->click();
    }
    void connectSerial(const QString &label)
    {
        w<QLineEdit>("serialPortLabel_2")->setText(label);
        w("connectSerialButton")->click();
    }
    // Rows in both lists, records and links: they come and go together.
    QVector<int> counts() { return {list(true)->count() + list(false)->count(), int(dialog.records().size()), int(host.links.size())}; }
    // Scans, connects and loads report later: waits until the dialog has none under way.
    bool idle() { return QTest::qWaitFor([this] { return !dialog.isBusy(); }, 20000); }
    bool countsAre(int n) { return counts() == QVector<int>(3, n); }
    int commandCount(const QByteArray &command) { return int(sim.commandLog(0).count(command)); }
    void refuse(const QByteArray &code)
    {
        SimFaults faults;
        faults.refuseCodes = code.isEmpty() ? QSet<QByteArray>() : QSet<QByteArray>{code};
        sim.setFaults(0, faults);
    }
};

QByteArray labelCommand(const QByteArray &label) { return "SLA" + label + QByteArray(25 - label.size(), ' ') + ';'; }

QString portName(int index) { return QStringLiteral("ttyUSB%1x%2").arg(QCoreApplication::applicationPid()).arg(index); }

quint16 unusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort(); // closed again when the server goes
}

// port: empty for the simulator's, "closed" for one nobody listens at.
struct TcpRow { QString port, label; bool refuseId; QString message; };
// The rate the controller answers at first, the rate chosen; fault after the
// scan: a refused command code, "port gone" or "nothing found".
struct SerialRow { int servedBaud, selectedBaud; QByteArray fault; QString label, message; QByteArray baudCommand; };

} // namespace

Q_DECLARE_METATYPE(TcpRow)
Q_DECLARE_METATYPE(SerialRow)

class TestSettingsDialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCapture> log;
    QTemporaryDir home;
    QTemporaryDir devices;

private slots:
    void initTestCase()
    {
        log = std::make_unique<LogCapture>();
        QVERIFY(home.isValid());
        QVERIFY(devices.isValid());
        dataDirectory.setPath(home.path());
        otherSerialDevices = true; // device files carry no maker
        useSerialDeviceDirectory(devices.path());
    }
    // Empties the serial device directory and the default setup file.
    void init()
    {
        log->clear();
        QDir dir(devices.path());
        for (const QString &entry : dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
            dir.remove(entry);
        QFile::remove(Settings::defaultFilePath());
        autoSearch = false;
    }

    // TCP/IP connect: success creates row, record and hand-over and sends the
    // padded label; every failure leaves no row, no record and no link.
    void tcpConnect_data()
    {
        QTest::addColumn<TcpRow>("r");
        QTest::newRow("label of 30 cut to 25") << TcpRow{"", "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234", false, "Connected"};
        QTest::newRow("identification refused") << TcpRow{"", "Lab", true, "System identification failed"};
        QTest::newRow("nobody listening") << TcpRow{"closed", "Lab", false, "Connection couldn't be established"};
        QTest::newRow("port 0") << TcpRow{"0", "Lab", false, "Port needs to be a positive natural number"};
        QTest::newRow("port 70000") << TcpRow{"70000", "Lab", false, "Please check the connection parameters"};
        QTest::newRow("no label") << TcpRow{"", "", false, ""};
    }
    void tcpConnect()
    {
        QFETCH(TcpRow, r);
        Rig rig;
        QVERIFY(rig.sim.start(0, 1));
        rig.refuse(r.refuseId ? "GID" : "");
        const QString port = r.port == "closed" ? QString::number(unusedPort()) : r.port.isEmpty() ? QString::number(rig.sim.port(0)) : r.port;
        rig.connectTcp("127.0.0.1", port, r.label);

        QVERIFY(rig.idle());
        QCOMPARE(rig.text("infoLabel2"), r.message);
        const bool success = r.message == "Connected";
        QVERIFY(rig.countsAre(success));
        if (!success) {
            QTRY_VERIFY_WITH_TIMEOUT(!rig.sim.hasClient(0), 5000);
            return;
        }
        const QString id = QString::fromLatin1(rig.sim.identification(0)), label = r.label.left(25);
        CHECK_FIELDS(rig.dialog.records().first(), QString("type=1;name=127.0.0.1;portOrBaud=%1;id=%2;label=%3").arg(port, id, label));
        QVERIFY(rig.host.handed.first().id == id);
        QVERIFY(rig.host.links.front()->link().linkState() == Connection::Connected);
        QTRY_COMPARE_WITH_TIMEOUT(rig.commandCount(labelCommand(label.toLatin1())), 1, 5000);

        // The same address a second time is refused before any link is made.
        rig.connectTcp("127.0.0.1", port, "Again");
        QCOMPARE(rig.text("infoLabel2"), QStringLiteral("Connection already exists."));
        QVERIFY(rig.list(true)->count() == 1);
        QVERIFY(rig.commandCount("GID;") == 1);
    }

    // Serial connect over a pseudo-terminal after a scan, with and without
    // the baud-rate adjustment, and its failures.
    void serialConnect_data()
    {
        QTest::addColumn<SerialRow>("r");
        QTest::newRow("same rate") << SerialRow{115200, 115200, "", "Lab1", "Connected", ""};
        QTest::newRow("up to 921600") << SerialRow{115200, 921600, "", "Lab1", "Connected", "SBR\x09;"};
        QTest::newRow("down to 115200") << SerialRow{921600, 115200, "", "Lab1", "Connected", "SBR\x01;"};
        QTest::newRow("adjustment refused") << SerialRow{115200, 921600, "SBR", "Lab1", "Baudrate couldn't be adjusted", "SBR\x09;"};
        QTest::newRow("identification refused") << SerialRow{115200, 115200, "GID", "Lab1", "System identification failed", ""};
        QTest::newRow("port gone") << SerialRow{115200, 115200, "port gone", "Lab1", "Connection could not be established", ""};
        QTest::newRow("no label") << SerialRow{115200, 115200, "", "", "Please insert a label", ""};
        QTest::newRow("nothing found") << SerialRow{115200, 115200, "nothing found", "Lab1", "No device available", ""};
    }
    void serialConnect()
    {
        QFETCH(SerialRow, r);
        Rig rig;
        SerialOptions options;
        options.baud = r.servedBaud;
        const bool found = r.fault != "nothing found";
        QVERIFY(!found || serveSerial(rig.sim, devices, {portName(1)}, options));
        rig.w("rescanButton")->click();
        QVERIFY(rig.idle());
        auto *devicesBox = rig.w<QComboBox>("serialPortInfoListBox");
        QCOMPARE(devicesBox->count(), found ? 1 : 0);

        rig.refuse(r.fault.size() == 3 ? r.fault : QByteArray()); // a command code
        QVERIFY(r.fault != "port gone" || QFile::remove(QDir(devices.path()).filePath(portName(1))));
        rig.sim.clearCommandLog(0);
        rig.w<QComboBox>("baudrateComboBox")->setCurrentText(QString::number(r.selectedBaud));
        rig.connectSerial(r.label);

        QVERIFY(rig.idle());
        QCOMPARE(rig.text("infoLabel"), r.message);
        QCOMPARE(rig.commandCount(r.baudCommand), r.baudCommand.isEmpty() ? 0 : 1);
        const bool success = r.message == "Connected";
        QVERIFY(rig.countsAre(success));
        QVERIFY(rig.list(false)->count() == success);
        QCOMPARE(devicesBox->count(), found && !success ? 1 : 0); // a failed controller stays offered
        if (!success)
            return;
        CHECK_FIELDS(rig.dialog.records().first(),
                     QString("type=0;name=%1;portOrBaud=%2;id=%3").arg(portName(1)).arg(r.selectedBaud).arg(QString(rig.sim.identification(0))));
        QVERIFY(rig.host.links.front()->link().parameter() == r.selectedBaud);
        QVERIFY(rig.host.links.front()->link().linkState() == Connection::Connected);
        QTRY_COMPARE_WITH_TIMEOUT(rig.commandCount(labelCommand(r.label.toLatin1())), 1, 5000);

        // A controller that has a row is not offered again by a new scan.
        rig.host.links.front()->link().disconnectLink();
        rig.w("rescanButton")->click();
        QVERIFY(rig.idle());
        QVERIFY(rig.dialog.discoveredControllers().size() == 1);
        QVERIFY(devicesBox->count() == 0);
    }

    // Loading a setup: auto-connect on and off, an ID that no longer
    // answers at that address, a serial controller that moved to another
    // port, and a controller that already has a row.
    void loading_data()
    {
        QTest::addColumn<QString>("kind"); // tcp, tcp off, tcp other id, serial moved, tcp existing
        QTest::addColumn<bool>("connected");
        QTest::newRow("auto-connect") << "tcp" << true;
        QTest::newRow("no auto-connect") << "tcp off" << false;
        QTest::newRow("other controller at the address") << "tcp other id" << false;
        QTest::newRow("serial controller on another port") << "serial moved" << true;
        QTest::newRow("already has a row") << "tcp existing" << true;
    }
    void loading()
    {
        QFETCH(QString, kind);
        QFETCH(bool, connected);
        Rig rig;
        const bool tcp = kind.startsWith("tcp");
        QVERIFY(tcp ? rig.sim.start(0, 1) : serveSerial(rig.sim, devices, {portName(3)}));
        autoSearch = !tcp;
        const QString address = tcp ? QStringLiteral("127.0.0.1") : portName(3);
        const int parameter = tcp ? rig.sim.port(0) : 115200;
        const QString id = kind == "tcp other id" ? QStringLiteral("ORX-OTHER-CONTROLLER") : QString::fromLatin1(rig.sim.identification(0));
        ConnectionSettings stored = record(id, tcp ? address : portName(7), tcp ? Tcp : Serial, parameter, "Stored", kind != "tcp off");
        std::tie(stored.colorX, stored.model[1], stored.beamDiameter[0]) = std::make_tuple(QColor(10, 20, 30), 3, 125.5);
        Settings file;
        QVERIFY(file.setConnections({stored}));
        QVERIFY(file.saveSetupFile(home.filePath("chosen.xml")));
        if (kind == "tcp existing") {
            rig.connectTcp(address, QString::number(parameter), "First");
            QVERIFY(rig.idle());
            QCOMPARE(rig.text("infoLabel2"), QStringLiteral("Connected"));
            QTRY_COMPARE_WITH_TIMEOUT(rig.commandCount(labelCommand("First")), 1, 5000);
        }
        rig.sim.clearCommandLog(0);
        rig.dialog.loadConnection(home.filePath("chosen.xml"));

        QVERIFY(rig.idle());
        QCOMPARE(rig.texts(), QStringList({"Loading was successful", "Loading successful"}));
        QVERIFY(rig.countsAre(1));
        QVERIFY(rig.list(tcp)->count() == 1);
        QTRY_COMPARE_WITH_TIMEOUT(rig.host.links.front()->link().linkState() == Connection::Connected, connected, 5000);
        QCOMPARE(rig.row(tcp, 0)->isConnected(), connected);
        QCOMPARE(rig.host.ready.size(), int(connected && kind != "tcp existing"));
        if (kind == "tcp existing") {
            QVERIFY(log->contains("Skipping already existing"));
            QVERIFY(rig.commandCount("GID;") == 0);
            QVERIFY(rig.row(true, 0)->label() == "First");
            return;
        }
        CHECK_FIELDS(rig.host.handed.first(), "name=" + address + ";colorX=#0a141e;model2=3;beamDiameter1=125.5");
        QCOMPARE(rig.row(tcp, 0)->address(), address);
        QCOMPARE(rig.inRow<QCheckBox>(tcp, 0, "checkBoxAutoConnect")->isChecked(), kind != "tcp off");
        QCOMPARE(rig.host.links.front()->link().label(), QStringLiteral("Stored"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.commandCount(labelCommand("Stored")), connected ? 1 : 0, 5000);
        if (kind == "tcp off") {
            QVERIFY(!rig.host.links.front()->link().isRunning());
            QVERIFY(!rig.sim.hasClient(0));
        }
        if (!tcp) {
            // Found by the search before the load made its row: still offered, but refused.
            rig.connectSerial("Twice");
            QVERIFY(rig.idle());
            QVERIFY(rig.text("infoLabel") == "Connection already created");
            QVERIFY(rig.list(false)->count() == 1);
        }
    }

    // Save, then load into a fresh dialog: labels, colours, detector
    // settings, auto-connect and order of a serial and a TCP/IP controller
    // come back, and a save that cannot be completed keeps the earlier
    // file. Remove-all empties both; a missing file adds nothing.
    void saveAndLoadAgain()
    {
        Rig rig;
        QVERIFY(serveSerial(rig.sim, devices, {portName(5)}));
        QVERIFY(rig.sim.start(0, 1));
        rig.w("rescanButton")->click();
        QVERIFY(rig.idle());
        rig.connectSerial("Serial_1");
        QVERIFY(rig.idle());
        QCOMPARE(rig.text("infoLabel"), QStringLiteral("Connected"));
        rig.connectTcp("127.0.0.1", QString::number(rig.sim.port(1)), "Tcp_2");
        QVERIFY(rig.idle());
        QCOMPARE(rig.text("infoLabel2"), QStringLiteral("Connected"));
        // The label request has been carried out: it sets the link's label.
        QTRY_COMPARE_WITH_TIMEOUT(int(rig.sim.commandLog(1).count(labelCommand("Tcp_2"))), 1, 5000);

        const QStringList ids{rig.row(false, 0)->controllerId(), rig.row(true, 0)->controllerId()};
        // What the window holds of each controller; the save asks it for that.
        for (int i = 0; i < 2; ++i) {
            ConnectionSettings &state = rig.host.current[rig.host.links[i]->address()];
            std::tie(state.colorX, state.pulsedLaser, state.model[0], state.beamDiameter[1]) = std::make_tuple(QColor(i * 100, 1, 2), i == 1, i + 1, 42.25 + i);
        }
        // A label typed in a row goes out through newLabel; the window
        // stores it on the link, from where the save takes it.
        QSignalSpy labels(&rig.dialog, &SettingsDialog::newLabel);
        QTest::keyClicks(rig.inRow<QLineEdit>(true, 0, "lineEdit"), "X!");
        QCOMPARE(labels, QList<QList<QVariant>>({{QStringLiteral("127.0.0.1"), QStringLiteral("Tcp_2X")}})); // "!" is not accepted
        rig.host.links[1]->link().setLabel(labels.first().at(1).toString());
        rig.inRow<QCheckBox>(false, 0, "checkBoxAutoConnect")->setChecked(false);
        rig.w("saveConnectionButton")->click();
        QCOMPARE(rig.texts(), QStringList({"Connection setup saved", "Connection setup saved"}));

        const QByteArray saved = readFile(Settings::defaultFilePath());
        QVERIFY(QDir().mkpath(Settings::stagingPath(QString())));
        rig.host.links[1]->link().setLabel("Changed");
        rig.w("saveConnectionButton")->click();
        QCOMPARE(rig.text("infoLabel2"), QStringLiteral("Error saving connection setup"));
        QCOMPARE(readFile(Settings::defaultFilePath()), saved);
        QVERIFY(QDir(Settings::stagingPath(QString())).removeRecursively());

        rig.dialog.removeAllConnections();
        QVERIFY(rig.countsAre(0));
        // The default setup, loaded at start-up, shows no load message.
        const QStringList texts = rig.texts();
        rig.dialog.loadConnection(QString());
        QVERIFY(rig.idle());
        QCOMPARE(rig.texts(), texts);
        QCOMPARE(rig.host.handed.size(), 4);
        CHECK_FIELDS(rig.host.handed[2], "id=" + ids[0] + ";label=Serial_1;autoConnect=false;colorX=#000102;pulsedLaser=false;model1=1;beamDiameter2=42.25");
        CHECK_FIELDS(rig.host.handed[3], "id=" + ids[1] + ";label=Tcp_2X;autoConnect=true;colorX=#640102;pulsedLaser=true;model1=2;beamDiameter2=43.25");
        QVERIFY(rig.host.links[0]->link().linkState() != Connection::Connected);
        QVERIFY(rig.host.links[1]->link().linkState() == Connection::Connected);
        QCOMPARE(rig.host.ready, QStringList{"127.0.0.1"});
        QVERIFY(rig.host.links[1]->link().isTriggerMode());
        rig.dialog.loadConnection(home.filePath("missing.xml"));
        QVERIFY(rig.idle());
        QCOMPARE(rig.texts(), QStringList({"Loading failed", "Loading failed"}));
        QVERIFY(rig.countsAre(2));
    }

    // Connect and Scan clicked again while a connect waits are ignored: one link, one identification.
    void secondClickWhileBusy()
    {
        Rig rig;
        QVERIFY(rig.sim.start(0, 1));
        SimFaults slow;
        slow.replyDelayByPrefix = {{"GID", 300}};
        rig.sim.setFaults(0, slow);
        int clicks = 0;
        QTimer clicker; // clicks both while the connect is under way
        QObject::connect(&clicker, &QTimer::timeout, [&] {
            if (rig.dialog.isBusy())
                ++clicks, rig.w("connectTcpButton")->click(), rig.w("rescanButton")->click(), rig.dialog.fillPortsInfo(),
                    rig.dialog.on_connectTcpButton_clicked();
        });
        clicker.start(0);
        rig.connectTcp("127.0.0.1", QString::number(rig.sim.port(0)), "Once");
        QVERIFY(rig.idle());
        clicker.stop();
        QVERIFY(clicks > 0);
        QVERIFY(rig.countsAre(1));
        QCOMPARE(rig.text("infoLabel2"), QStringLiteral("Connected"));
        QCOMPARE(rig.commandCount("GID;"), 1);
    }

    // While a connect waits for an identification that does not come, the
    // dialog shows "Connecting..." with the address and offers Cancel in
    // place of the controls that would start another connect. Cancel
    // releases the link and hands nothing over; a new connect then works.
    void connectShowsProgressAndCancels()
    {
        Rig rig;
        QVERIFY(rig.sim.start(0, 1));
        SimFaults silent;
        silent.silentCodes = {"GID"};
        rig.sim.setFaults(0, silent);
        const QString port = QString::number(rig.sim.port(0));
        rig.connectTcp("127.0.0.1", port, "Late");
        QCOMPARE(rig.text("infoLabel2"), QStringLiteral("Connecting... 127.0.0.1"));
        auto *cancel = rig.w("cancelConnectButton");
        const auto controls = [&] {
            QString states;
            for (const char *name : {"connectTcpButton", "connectSerialButton", "rescanButton", "loadConnectionButton"})
                states += rig.w(name)->isEnabled() ? '1' : '0';
            return states + (cancel->isVisibleTo(&rig.dialog) ? 'C' : '-');
        };
        QCOMPARE(controls(), QStringLiteral("0000C"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.commandCount("GID;"), 1, 10000);

        cancel->click();
        QCOMPARE(controls(), QStringLiteral("1111-"));
        QVERIFY(!rig.dialog.isBusy());
        QVERIFY(rig.text("infoLabel2") != "Connected");
        QTRY_VERIFY_WITH_TIMEOUT(!rig.sim.hasClient(0), 10000);
        QCoreApplication::processEvents();
        QVERIFY(rig.countsAre(0));
        QVERIFY(rig.host.handed.isEmpty());

        rig.sim.setFaults(0, SimFaults());
        rig.connectTcp("127.0.0.1", port, "Again");
        QVERIFY(rig.idle());
        QCOMPARE(rig.text("infoLabel2"), QStringLiteral("Connected"));
        QVERIFY(rig.countsAre(1));
    }

    // A setup of four auto-connect controllers, the first slow to identify
    // and the third silent: all four are handed over at once in record order;
    // the healthy ones are ready while the slow one still identifies, the
    // slow one follows, and the silent one is logged and left unconnected.
    void loadingIdentifiesSideBySide()
    {
        Rig rig;
        QVERIFY(rig.sim.start(0, 4, QHostAddress(QHostAddress::AnyIPv4)));
        SimFaults slow, silent;
        slow.replyDelayByPrefix = {{"GID", 900}}; // late, but within the reply deadline
        silent.silentCodes = {"GID"};
        rig.sim.setFaults(0, slow);
        rig.sim.setFaults(2, silent);
        QList<ConnectionSettings> stored;
        QStringList addresses, handOvers;
        for (int i = 0; i < 4; ++i) {
            addresses << QStringLiteral("127.0.0.%1").arg(i + 1);
            handOvers << "new " + addresses.last();
            stored << record(rig.sim.identification(i), addresses.last(), Tcp, rig.sim.port(i), QStringLiteral("L%1").arg(i), true);
        }
        Settings file;
        QVERIFY(file.setConnections(stored));
        QVERIFY(file.saveSetupFile(home.filePath("four.xml")));
        rig.dialog.loadConnection(home.filePath("four.xml"));

        QCOMPARE(rig.host.events, handOvers);
        QVERIFY(rig.idle());
        QCOMPARE(rig.host.events.mid(0, 4), handOvers);
        QStringList firstReady = rig.host.ready.mid(0, 2);
        std::sort(firstReady.begin(), firstReady.end());
        QCOMPARE(firstReady, QStringList({addresses[1], addresses[3]}));
        QCOMPARE(rig.host.ready.mid(2), QStringList{addresses[0]});
        QString rowStates;
        for (int i = 0; i < 4; ++i)
            rowStates += rig.row(true, i)->isConnected() ? 'D' : 'R';
        QCOMPARE(rowStates, QStringLiteral("DDRD"));
        QVERIFY(log->contains("Controller at 127.0.0.3 did not identify as " + rig.sim.identification(2)));
        QTRY_VERIFY_WITH_TIMEOUT(rig.host.links[2]->link().linkState() != Connection::Connected, 5000);
        for (int i = 0; i < 4; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(int(rig.sim.commandLog(i).count(labelCommand(QByteArray("L") + char('0' + i)))), int(i != 2), 5000);
    }

    // Disconnect and reconnect through the row, a controller replaced by
    // another one, and delete.
    void rowActions()
    {
        Rig rig;
        QVERIFY(rig.sim.start(0, 1));
        rig.connectTcp("127.0.0.1", QString::number(rig.sim.port(0)), "A");
        QVERIFY(rig.idle());
        QCOMPARE(rig.text("infoLabel2"), QStringLiteral("Connected"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.commandCount(labelCommand("A")), 1, 5000);
        // Clicks the row's button: its text then, and the link's state.
        auto click = [&, link = &rig.host.links.front()->link(), button = rig.inRow(true, 0, "Button")] {
            button->click();
            return button->text() + ' ' + QString::number(link->linkState());
        };
        const QString reconnect = QStringLiteral("Reconnect %1").arg(Connection::Disconnected);
        const QString disconnect = QStringLiteral("Disconnect %1").arg(Connection::Connected);
        QCOMPARE(click(), reconnect);
        QCOMPARE(click(), disconnect);

        // Another controller answers at the address now.
        click();
        const SimConfig original = rig.sim.config(0);
        SimConfig other = original;
        other.idText = QStringLiteral("REPLACED");
        rig.sim.setConfig(0, other);
        QCOMPARE(click(), reconnect);
        const QString mismatch = QStringLiteral("Could not establish connection. Controller ID mismatch.");
        QCOMPARE(rig.texts(), QStringList({mismatch, mismatch}));
        rig.sim.setConfig(0, original);
        QCOMPARE(click(), disconnect);
        rig.inRow(true, 0, "deleteButton")->click();
        QVERIFY(rig.countsAre(0));
    }

};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
