// The service dialog driven through its widgets against the embedded
// simulator, over TCP and over a pseudo-terminal, judged by the simulator's
// command log and state and by the lines in the result pane.

#include "SimulatorLink.h"

#include "controller/Controller.h"
#include "controller/FutureCallback.h"
#include "link/Identification.h"
#include "link/SerialPort.h"
#include "service/ServiceDialog.h"
#include "service/ServiceReport.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QTextBrowser>
#include <QTimer>

namespace {

// Waits (processing events) until the dialog's test has been shown.
bool idle(const ServiceDialog &dialog)
{
    return QTest::qWaitFor([&] { return !dialog.isBusy(); }, 20000);
}

// Clears the result pane, clicks the button (enabled first: SSH 3 and CSH 3
// are disabled in the form) and returns what the pane shows once the test
// has come back.
QString run(ServiceDialog &dialog, const QString &name)
{
    auto *button = dialog.findChild<QAbstractButton *>(name);
    if (!button || !idle(dialog))
        return QString();
    dialog.findChild<QAbstractButton *>("clear_pushButton")->click();
    button->setEnabled(true);
    button->click();
    if (!idle(dialog))
        return QStringLiteral("still busy");
    return dialog.findChild<QTextBrowser *>("result_textBrowser")->toPlainText();
}

QString pane(const ServiceDialog &dialog)
{
    return dialog.findChild<QTextBrowser *>("result_textBrowser")->toPlainText();
}

SimFaults refusing(const QSet<QByteArray> &codes)
{
    SimFaults faults;
    faults.refuseCodes = codes;
    return faults;
}

int lastStreamRate(const QList<QByteArray> &log)
{
    for (int i = log.size() - 1; i >= 0; --i)
        if (log[i].startsWith("SLS") && log[i].size() == 8)
            return (quint8(log[i][5]) << 8) | quint8(log[i][6]);
    return -1;
}

QString exact(const QString &text) { return QRegularExpression::anchoredPattern(QRegularExpression::escape(text)); }

} // namespace

class ServiceDialogTest : public QObject
{
    Q_OBJECT

    Simulator tcpSim;
    std::unique_ptr<Controller> tcpController;
    Connection *tcpLink = nullptr;
    const QString portName = QStringLiteral("ttyUSB%1").arg(QCoreApplication::applicationPid());

    // A fresh simulator on a pseudo-terminal that answers only at the given
    // baud rate (and follows SBR), and a link to it at that rate.
    struct SerialRig
    {
        Simulator sim;
        QTemporaryDir devices;
        std::unique_ptr<Controller> controller; // ends its link before the simulator goes
        Connection &link() { return controller->link(); }
    };
    std::unique_ptr<SerialRig> serialRig(const SimFaults &faults, int baud)
    {
        auto rig = std::make_unique<SerialRig>();
        SerialOptions options;
        options.baud = baud;
        rig->sim.setDefaultFaults(faults);
        auto port = std::make_unique<SerialPort>();
        port->setDeviceDirectory(rig->devices.path());
        if (!serveSerial(rig->sim, rig->devices, {portName}, options) || !port->initialize(portName, baud))
            return nullptr;
        port->start();
        // Identified as the connection dialog does, so the link knows the
        // firmware (and with it how the controller ends a stream).
        if (!waitUntilConnected(*port) || !identifyController(*port, 0).valid)
            return nullptr;
        rig->controller = std::make_unique<Controller>(std::move(port));
        return rig;
    }

    // A dialog on the TCP link with its stream stopped, the controller with
    // these faults and an empty command log.
    std::unique_ptr<ServiceDialog> tcpDialog(const SimFaults &faults = SimFaults())
    {
        tcpSim.setFaults(0, faults);
        if (tcpLink->isStreaming()) {
            QByteArray reply;
            tcpLink->clearLiveStream();
            tcpLink->waitForReply(reply);
        }
        auto dialog = std::make_unique<ServiceDialog>();
        dialog->setController(tcpController.get());
        if (!idle(*dialog))
            return nullptr;
        tcpSim.clearCommandLog(0);
        return dialog;
    }

private slots:
    void initTestCase()
    {
        std::unique_ptr<TcpClient> link = connectToSimulator(tcpSim);
        QVERIFY(link);
        QVERIFY(identifyController(*link, 0).valid);
        tcpLink = link.get();
        tcpController = std::make_unique<Controller>(std::move(link));
    }

    void commandButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("line");
        auto add = [](const char *button, const QByteArray &sent, const QString &success, const QString &failure) {
            QTest::addRow("%s ok", button) << button << false << sent << success;
            QTest::addRow("%s refused", button) << button << true << sent << failure;
        };
        auto addSimple = [&add](const char *button, const QByteArray &sent, const QString &what) {
            add(button, sent, exact(what + ": Success\n"), exact(what + ": Failed\n"));
        };
        for (int s = 1; s <= 3; ++s) {
            const QByteArray arg = QByteArray(1, char(s)) + ';';
            const QString stage = QStringList{"Stage 1", "Stage 2", "Stage 1+2"}[s - 1];
            addSimple(qPrintable(QString("buttonSSH_%1").arg(s)), "SSH" + arg, "Set&Hold " + stage);
            addSimple(qPrintable(QString("buttonCSH_%1").arg(s)), "CSH" + arg, "Clear Set&Hold " + stage);
            addSimple(qPrintable(QString("buttonSTF_%1").arg(s)), "STF" + arg, "Set Trigger Freeze " + stage);
            addSimple(qPrintable(QString("buttonCTF_%1").arg(s)), "CTF" + arg, "Clear Trigger Freeze " + stage);
        }
        for (const QByteArray axis : {"1x", "1y", "2x", "2y"})
            addSimple(("buttonSDA_" + axis).constData(), "SDA" + QByteArray(1, axis[0] - '0') + axis[1] + QByteArray(2, '\0') + ';',
                      "Set Drive Actuator Stage " + axis.left(1) + " - " + axis.mid(1));
        addSimple("buttonCLS", "CLS;", "Clear Live Stream");
        addSimple("quickSet_pfactor_1_5000", QByteArray("SPF\x01\x13\x88;", 7), "Set P factor stage 1 to 5000mV");
        addSimple("quickSet_pfactor_2_100", QByteArray("SPF\x02\x00\x64;", 7), "Set P factor stage 2 to 100mV");
        addSimple("quickSet_sensitivity_1_2500", QByteArray("SDS\x01\x09\xc4;", 7), "Set detector sensitivity stage 1 to 2500mV");
        add("quickSet_adjustIn_2Y", QByteArray("SAI\x02y\xfc\x18;", 8), exact("Set adjust in stage 2 axis Y to -1000mV: Success\n"),
            exact("Set adjust in stage 2 axis Y to -1000: Failed\n"));
        add("buttonGAS", "GAS;", "^Get Active Signal: \n  Active 1: [01]\n  Active 2: [01]\n$",
            exact("Get Active Signal: failed - no response\n"));
        add("buttonGIN_1", "GIN\x01;", "^Get Intensity:-?\\d+\n$", exact("Get Intensity: failed - no response\n"));
        // The texts of the replies are judged in replyTexts; here, that the reply reaches them.
        add("buttonS1S", "S1S;", "^Trigger One Shot: Success\n(.*\n){7}$", exact("Trigger One Shot: Failed\n"));
        add("error_PushButton", "GER;", "^Get Error: Command:... Code: \\d+\n$", exact("Get Error: Failed\n"));
        add("fram_PushButton", QByteArray("RFR\x00\x00\xff;", 7), "^(\\d+: [0-9a-f]{2}\n){255}$", exact("Not supported! \n"));
    }

    void commandButtons()
    {
        QFETCH(QString, button);
        QFETCH(bool, refused);
        QFETCH(QByteArray, sent);
        QFETCH(QString, line);
        auto dialog = tcpDialog(refused ? refusing({sent.left(3)}) : SimFaults());
        QVERIFY(dialog);
        const QString shown = run(*dialog, button);
        QCOMPARE(tcpSim.commandLog(0), QList<QByteArray>{sent});
        QVERIFY2(QRegularExpression(line).match(shown).hasMatch(), qPrintable(shown));
    }

    // No crash without a controller or on a FRAM reply of the wrong length.
    void noControllerOrShortFramReply()
    {
        ServiceDialog unconnected;
        QCOMPARE(run(unconnected, "buttonGAS"), QString("No controller selected\n"));

        for (int size : {0, 2, 257, 259})
            QCOMPARE(ServiceReport::framDump(QByteArray(size, ';')), QString("Not supported! \n"));
    }

    // The manual position check box switches the drive input between the
    // preset combo box and the free spin box, both ways.
    void manualPositionChoosesTheDriveInput()
    {
        ServiceDialog dialog;
        auto *manual = dialog.findChild<QAbstractButton *>("manalPosition_checkBox");
        auto *free = dialog.findChild<QWidget *>("drive_spinBox");
        auto *preset = dialog.findChild<QComboBox *>("Drive_position");
        QVERIFY(manual);
        QVERIFY(free);
        QVERIFY(preset);
        QCOMPARE(std::make_pair(free->isEnabled(), preset->isEnabled()), std::make_pair(false, true));
        manual->click();
        QCOMPARE(std::make_pair(free->isEnabled(), preset->isEnabled()), std::make_pair(true, false));
        manual->click();
        QCOMPARE(std::make_pair(free->isEnabled(), preset->isEnabled()), std::make_pair(false, true));
    }

    // A controller that answers 700 ms late: the user-interface thread runs
    // on meanwhile (a timer keeps firing), the test buttons are disabled
    // except those the form disables for good, and a controller handed over
    // meanwhile does not get the late lines.
    void lateReplyNeitherBlocksNorLeaksIntoAnotherController_data()
    {
        QTest::addColumn<bool>("switchAway");
        QTest::newRow("shown when back") << false;
        QTest::newRow("dropped after a switch") << true;
    }
    void lateReplyNeitherBlocksNorLeaksIntoAnotherController()
    {
        QFETCH(bool, switchAway);
        SimFaults late;
        late.replyDelayByPrefix.insert("GAS", 700);
        auto dialog = tcpDialog(late);
        QVERIFY(dialog);
        auto *gas = dialog->findChild<QAbstractButton *>("buttonGAS");
        auto *ssh3 = dialog->findChild<QAbstractButton *>("buttonSSH_3");
        int ticksWhileBusy = 0; // timer ticks while the controller works on the test
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ticksWhileBusy += tcpController->isBusy() ? 1 : 0; });
        ticker.start(10);

        gas->click();
        QVERIFY(dialog->isBusy());
        QVERIFY(!gas->isEnabled());
        QVERIFY(dialog->windowTitle().endsWith("Busy..."));
        gas->click(); // ignored while busy
        if (switchAway)
            dialog->setController(nullptr);
        // Every answer of the controller has been delivered once a request
        // queued behind the test has come back.
        bool drained = false;
        whenReady(tcpController->request([](Connection &) { return 0; }), dialog.get(), [&](int) { drained = true; });
        QTRY_VERIFY_WITH_TIMEOUT(drained && !dialog->isBusy(), 20000);
        QVERIFY2(ticksWhileBusy >= 3, qPrintable(QString::number(ticksWhileBusy)));
        QCOMPARE(tcpSim.commandLog(0), QList<QByteArray>{"GAS;"});
        QCOMPARE(pane(*dialog).count("Get Active Signal"), switchAway ? 0 : 1);
        QVERIFY(gas->isEnabled());
        QVERIFY(!ssh3->isEnabled());
        QVERIFY(!dialog->windowTitle().contains("Busy"));
    }

    void testsLeaveTheStreamAsFound_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("running");
        for (const char *button : {"buttonSSH_1", "buttonCLS", "fram_PushButton", "speed_pushButton", "baudrateChange"}) {
            QTest::addRow("%s stopped", button) << button << false;
            QTest::addRow("%s running", button) << button << true;
        }
    }
    void testsLeaveTheStreamAsFound()
    {
        QFETCH(QString, button);
        QFETCH(bool, running);
        auto dialog = tcpDialog();
        QVERIFY(dialog);
        if (running)
            QVERIFY(startStream(*tcpLink, 200));
        tcpSim.clearCommandLog(0);
        QVERIFY(!run(*dialog, button).isEmpty());
        QVERIFY(tcpLink->isStreaming() == running);
        QVERIFY(tcpSim.isStreaming(0) == running);
        const QList<QByteArray> log = tcpSim.commandLog(0);
        if (running) {
            QCOMPARE(log.first(), QByteArray("CLS;"));
            QVERIFY(lastStreamRate(log) == 200);
            QVERIFY(tcpLink->samplingRate() == 200);
            QTRY_VERIFY_WITH_TIMEOUT(tcpLink->storedSamples() > 0, 5000);
        } else if (button != "speed_pushButton") {
            QCOMPARE(lastStreamRate(log), -1);
        }
    }

    // The rate changes in both directions while a stream runs on; a refusal,
    // or a controller that stays at its rate, keeps the old rate working.
    void baudRateChange_data()
    {
        QTest::addColumn<QByteArray>("fault"); // a refused code, or "keep": the line keeps its rate
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("lines");
        const QString success = QStringLiteral("Set Baudrate: Success - now adjusting connection - Ethernet is now lost\n");
        QTest::newRow("up") << QByteArray() << 115200 << "921600" << success + "Connection now at 921600 baud\n";
        QTest::newRow("down") << QByteArray() << 921600 << "115200" << success + "Connection now at 115200 baud\n";
        QTest::newRow("refused") << QByteArray("SBR") << 115200 << "921600" << "Set Baudrate: Failed\nConnection kept at 115200 baud\n";
        QTest::newRow("no answer at the new rate")
            << QByteArray("keep") << 115200 << "921600" << success + "No answer at 921600 baud - connection back at 115200 baud\n";
    }
    void baudRateChange()
    {
        QFETCH(QByteArray, fault);
        QFETCH(int, from);
        QFETCH(QString, to);
        QFETCH(QString, lines);
        SimFaults faults = refusing(fault == "SBR" ? QSet<QByteArray>{fault} : QSet<QByteArray>());
        faults.keepBaudRate = fault == "keep";
        auto rig = serialRig(faults, from);
        QVERIFY(rig);
        ServiceDialog dialog;
        dialog.setController(rig->controller.get());
        QVERIFY(idle(dialog));
        QVERIFY(startStream(rig->link(), 50));

        auto *combo = dialog.findChild<QComboBox *>("comboBox");
        combo->setCurrentIndex(combo->findText(to));
        rig->sim.clearCommandLog(0);
        QCOMPARE(run(dialog, "baudrateChange"), lines);
        const int now = lines.contains("Connection now") ? to.toInt() : from;
        QCOMPARE(rig->link().parameter(), now);
        QCOMPARE(dialog.findChild<QLabel *>("config_Label")->text(), QString::number(now));
        QCOMPARE(rig->sim.commandLog(0).count(QByteArray("SBR") + (to == "921600" ? '\x09' : '\x01') + ';'), 1);
        // The stream runs on, readable at the rate the link reports.
        QVERIFY(rig->link().isStreaming());
        QVERIFY(rig->sim.isStreaming(0));
        StreamSample samples[1000];
        while (rig->link().takeSamples(samples, 1000) > 0) {
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig->link().storedSamples() > 0, 5000);
    }
};

QTEST_MAIN(ServiceDialogTest)
#include "tst_servicedialog.moc"
