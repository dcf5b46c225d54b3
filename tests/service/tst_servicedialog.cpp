// The service dialog driven through its widgets against the embedded
// simulator, over TCP and over a pseudo-terminal, judged by the simulator's
// command log and state and by the lines in the result pane.

#include "SimulatorLink.h"

#include "SimController.h"

#include "link/Identification.h"
#include "link/SerialPort.h"
#include "service/ServiceDialog.h"
#include "service/ServiceReport.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QTextBrowser>

namespace {

QString paneText(ServiceDialog &dialog)
{
    return dialog.findChild<QTextBrowser *>("result_textBrowser")->toPlainText();
}

bool click(ServiceDialog &dialog, const QString &name)
{
    auto *button = dialog.findChild<QAbstractButton *>(name);
    if (!button)
        return false;
    button->setEnabled(true); // SSH 3 and CSH 3 are disabled in the form
    button->click();
    return true;
}

QString labelText(ServiceDialog &dialog, const char *name)
{
    return dialog.findChild<QLabel *>(name)->text();
}

void selectBaudRate(ServiceDialog &dialog, const QString &rate)
{
    auto *combo = dialog.findChild<QComboBox *>("comboBox");
    combo->setCurrentIndex(combo->findText(rate));
}

int lastStreamRate(const QList<QByteArray> &log)
{
    for (int i = log.size() - 1; i >= 0; --i)
        if (log[i].startsWith("SLS") && log[i].size() == 8)
            return (quint8(log[i][5]) << 8) | quint8(log[i][6]);
    return -1;
}

QString exact(const QString &text)
{
    return QRegularExpression::anchoredPattern(QRegularExpression::escape(text));
}

} // namespace

class ServiceDialogTest : public QObject
{
    Q_OBJECT

    Simulator tcpSim;
    std::unique_ptr<TcpClient> tcpLink;
    const QString portName = QStringLiteral("ttyUSB%1").arg(QCoreApplication::applicationPid());

    // A fresh simulator on a pseudo-terminal that answers only at the given
    // baud rate (and follows SBR), and a link to it at that rate.
    struct SerialRig
    {
        Simulator sim;
        QTemporaryDir devices;
        SerialPort link;
    };
    std::unique_ptr<SerialRig> serialRig(const SimFaults &faults = SimFaults(), int baud = 115200)
    {
        auto rig = std::make_unique<SerialRig>();
        SerialOptions options;
        options.baud = baud;
        rig->sim.setDefaultFaults(faults);
        rig->link.setDeviceDirectory(rig->devices.path());
        if (!serveSerial(rig->sim, rig->devices, {portName}, options) || !rig->link.initialize(portName, baud))
            return nullptr;
        rig->link.start();
        // Identified as the connection dialog does, so the link knows the
        // firmware (and with it how the controller ends a stream).
        return waitUntilConnected(rig->link) && identifyController(rig->link, 0).valid ? std::move(rig) : nullptr;
    }

    void resetTcp(const SimFaults &faults = SimFaults())
    {
        tcpSim.setFaults(0, faults);
        if (tcpLink->isStreaming()) {
            QByteArray reply;
            tcpLink->clearLiveStream();
            tcpLink->waitForReply(reply);
        }
        tcpSim.clearCommandLog(0);
    }

private slots:
    void initTestCase()
    {
        tcpLink = connectToSimulator(tcpSim);
        QVERIFY(tcpLink && identifyController(*tcpLink, 0).valid);
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
        const char *stages[] = {"Stage 1", "Stage 2", "Stage 1+2"};
        for (int s = 1; s <= 3; ++s) {
            const QByteArray arg = QByteArray(1, char(s)) + ';';
            const QString stage = stages[s - 1];
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
        addSimple("quickSet_sensitivity_1_2500", QByteArray("SDS\x01\x09\xc4;", 7),
                  "Set detector sensitivity stage 1 to 2500mV");
        add("quickSet_adjustIn_2Y", QByteArray("SAI\x02y\xfc\x18;", 8),
            exact("Set adjust in stage 2 axis Y to -1000mV: Success\n"),
            exact("Set adjust in stage 2 axis Y to -1000: Failed\n"));
        add("buttonGAS", "GAS;", "^Get Active Signal: \n  Active 1: [01]\n  Active 2: [01]\n$",
            exact("Get Active Signal: failed - no response\n"));
        add("buttonGIN_1", "GIN\x01;", "^Get Intensity:-?\\d+\n$", exact("Get Intensity: failed - no response\n"));
        // The texts of the replies are judged in replyTexts; here, that the reply reaches them.
        add("buttonS1S", "S1S;", "^Trigger One Shot: Success\n(.*\n){7}$", exact("Trigger One Shot: Failed\n"));
        add("error_PushButton", "GER;", "^Get Error: Command:... Code: \\d+\n$", exact("Get Error: Failed\n"));
        add("fram_PushButton", QByteArray("RFR\x00\x00\xff;", 7), "^(\\d+: [0-9a-f]{2}\n){255}$",
            exact("Not supported! \n"));
    }

    void commandButtons()
    {
        QFETCH(QString, button);
        QFETCH(bool, refused);
        QFETCH(QByteArray, sent);
        QFETCH(QString, line);
        resetTcp();
        ServiceDialog dialog;
        dialog.setConnection(tcpLink.get());
        SimFaults faults;
        if (refused)
            faults.refuseCodes = {sent.left(3)};
        tcpSim.setFaults(0, faults);
        tcpSim.clearCommandLog(0);

        QVERIFY(click(dialog, button));
        QCOMPARE(tcpSim.commandLog(0), QList<QByteArray>{sent});
        QVERIFY2(QRegularExpression(line).match(paneText(dialog)).hasMatch(), qPrintable(paneText(dialog)));
    }

    void drivePosition_data()
    {
        QTest::addColumn<int>("comboIndex");
        QTest::addColumn<bool>("manual");
        QTest::addColumn<int>("spinValue");
        QTest::addColumn<int>("sent");
        QTest::newRow("+2500") << 1 << false << 4000 << 2500;
        QTest::newRow("-2500") << 2 << false << 4000 << -2500;
        QTest::newRow("manual -5000") << 1 << true << -5000 << -5000;
    }

    void drivePosition()
    {
        QFETCH(int, comboIndex);
        QFETCH(bool, manual);
        QFETCH(int, spinValue);
        QFETCH(int, sent);
        resetTcp();
        ServiceDialog dialog;
        dialog.setConnection(tcpLink.get());
        auto *combo = dialog.findChild<QComboBox *>("Drive_position");
        auto *spin = dialog.findChild<QSpinBox *>("drive_spinBox");
        auto *check = dialog.findChild<QCheckBox *>("manalPosition_checkBox");
        QVERIFY(!spin->isEnabled() && combo->isEnabled());
        combo->setCurrentIndex(comboIndex);
        if (manual) {
            check->click();
            QVERIFY(spin->isEnabled() && !combo->isEnabled());
        }
        spin->setValue(spinValue);
        tcpSim.clearCommandLog(0);
        QVERIFY(click(dialog, "buttonSDA_2y"));
        QCOMPARE(tcpSim.commandLog(0),
                 QList<QByteArray>{QByteArray("SDA\x02y", 5) + char((sent >> 8) & 0xFF) + char(sent & 0xFF) + ';'});
        if (manual) {
            check->click();
            QVERIFY(!spin->isEnabled() && combo->isEnabled());
        }
    }

    void replyTexts()
    {
        // One stream message: stabilisation on for stage 1, both active,
        // stage 2 multiplexed, values that need signed and unsigned reading.
        QByteArray message(25, '\0');
        message[1] = message[24] = ';';
        message[2] = char(0x68);
        message[3] = char(0x02);
        const int values[] = {-200, 300, 65336, 1, -1, 2, -32768, 32767, 0, 5};
        for (int i = 0; i < 10; ++i) {
            message[4 + 2 * i] = char((values[i] >> 8) & 0xFF);
            message[5 + 2 * i] = char(values[i] & 0xFF);
        }
        QCOMPARE(ServiceReport::streamSample(message),
                 QString("Trigger One Shot: Success\nOn/Off Stage 1/2: 1 / 0\nActive Stage 1/2: 1 / 1\n"
                         "(Multiplex) Stage 1/2: 0 / 1\nStage 1 x/y/i: -200 / 300 / 65336 [mV]\n"
                         "Stage 2 x/y/i: 1 / -1 / 2 [mV]\nRange 1 x/y: -32768 / 32767 [mV]\nRange 2 x/y: 0 / 5 [mV]\n"));
        QCOMPARE(ServiceReport::activeSignal(QByteArray("\x00;\x00\x07;", 5)),
                 QString("Get Active Signal: \n  Active 1: 0\n  Active 2: 1\n"));
        QCOMPARE(ServiceReport::intensity(QByteArray("\x00;\xff\x38;", 5)), QString("Get Intensity:-200\n"));

        // FRAM content 0x80, 0x81, ... wrapping: high values print as two hex digits.
        QByteArray fram("\x00;", 2);
        for (int i = 0; i < 255; ++i)
            fram += char(0x80 + i);
        fram += ';';
        const QStringList lines = ServiceReport::framDump(fram).split('\n');
        QCOMPARE(lines.size(), 256); // 255 lines and the empty rest after the last line end
        QCOMPARE(lines.mid(127, 2), QStringList({"127: ff", "128: 00"}));
        for (int size : {0, 2, 257, 259})
            QCOMPARE(ServiceReport::framDump(fram.left(size).leftJustified(size, ';')), QString("Not supported! \n"));
    }

    void readoutsOfTheController()
    {
        resetTcp();
        ServiceDialog dialog;
        QVERIFY(click(dialog, "buttonGAS")); // no connection handed over yet
        QCOMPARE(paneText(dialog), QString("No controller selected\n"));
        QVERIFY(click(dialog, "clear_pushButton"));
        dialog.setConnection(tcpLink.get());
        QCOMPARE(labelText(dialog, "boardId_Label").toLatin1(), tcpSim.identification(0));
        QCOMPARE(labelText(dialog, "portLabel"), QString::number(tcpSim.port(0)));
        QCOMPARE(labelText(dialog, "config_Label"), QString("Siehe Ethernet Adapter"));

        // The error readout names the command refused last.
        SimFaults faults;
        faults.refuseCodes = {"STF"};
        tcpSim.setFaults(0, faults);
        QVERIFY(click(dialog, "buttonSTF_2"));
        tcpSim.setFaults(0, SimFaults());
        QVERIFY(click(dialog, "clear_pushButton"));
        QVERIFY(click(dialog, "error_PushButton"));
        QCOMPARE(paneText(dialog), QString("Get Error: Command:STF Code: %1\n").arg(int(SimController::Refused)));

        // The FRAM begins with the controller's label.
        tcpLink->sendLabel("Z9");
        QByteArray reply;
        QVERIFY(tcpLink->waitForReply(reply));
        QVERIFY(click(dialog, "clear_pushButton"));
        QVERIFY(click(dialog, "fram_PushButton"));
        const QStringList lines = paneText(dialog).split('\n');
        QCOMPARE(lines.mid(0, 3), (QStringList{"0: 5a", "1: 39", "2: 20"}));
        QCOMPARE(lines.size(), 256);
    }

    void speedTestCountsOneSecondAt500Hz()
    {
        resetTcp();
        ServiceDialog dialog;
        dialog.setConnection(tcpLink.get());
        tcpSim.clearCommandLog(0);
        QVERIFY(click(dialog, "speed_pushButton"));
        const QRegularExpressionMatch m =
            QRegularExpression("^Speed Test: (\\d+) of 500 received\n$").match(paneText(dialog));
        QVERIFY2(m.hasMatch(), qPrintable(paneText(dialog)));
        // Generous bounds: a loaded machine delays the stop a little, but a
        // count of a different second, of nothing or of double is wrong.
        const int count = m.captured(1).toInt();
        QVERIFY2(count >= 400 && count <= 600, qPrintable(m.captured(0)));
        QCOMPARE(tcpSim.commandLog(0), (QList<QByteArray>{QByteArray("SLS\x00\x00\x01\xf4;", 8), "CLS;"}));
        QVERIFY(!tcpLink->isStreaming());
        QVERIFY(!tcpSim.isStreaming(0));

        // A stream that does not start is reported, not measured.
        SimFaults faults;
        faults.refuseCodes = {"SLS"};
        tcpSim.setFaults(0, faults);
        QVERIFY(click(dialog, "clear_pushButton"));
        QVERIFY(click(dialog, "speed_pushButton"));
        QCOMPARE(paneText(dialog), QString("Speed Test: Failed - stream couldn't start\n"));
        tcpSim.setFaults(0, SimFaults());
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
        resetTcp();
        ServiceDialog dialog;
        dialog.setConnection(tcpLink.get());
        if (running)
            QVERIFY(startStream(*tcpLink, 200));
        tcpSim.clearCommandLog(0);
        QVERIFY(click(dialog, button));
        QVERIFY(!paneText(dialog).isEmpty());
        QCOMPARE(tcpLink->isStreaming(), running);
        QCOMPARE(tcpSim.isStreaming(0), running);
        const QList<QByteArray> log = tcpSim.commandLog(0);
        if (running) {
            QCOMPARE(log.first(), QByteArray("CLS;"));
            QCOMPARE(lastStreamRate(log), 200);
            QCOMPARE(tcpLink->samplingRate(), 200);
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
        SimFaults faults;
        if (fault == "keep")
            faults.keepBaudRate = true;
        else if (!fault.isEmpty())
            faults.refuseCodes = {fault};
        auto rig = serialRig(faults, from);
        QVERIFY(rig);
        ServiceDialog dialog;
        dialog.setConnection(&rig->link);
        QCOMPARE(labelText(dialog, "config_Label"), QString::number(from));
        QVERIFY(dialog.findChild<QLabel *>("portLabel")->isHidden());
        QCOMPARE(labelText(dialog, "boardId_Label").toLatin1(), rig->sim.identification(0));
        QVERIFY(startStream(rig->link, 50));

        selectBaudRate(dialog, to);
        rig->sim.clearCommandLog(0);
        QVERIFY(click(dialog, "baudrateChange"));
        QCOMPARE(paneText(dialog), lines);
        const int now = lines.contains("Connection now") ? to.toInt() : from;
        QCOMPARE(rig->link.parameter(), now);
        QCOMPARE(labelText(dialog, "config_Label"), QString::number(now));
        QCOMPARE(rig->sim.commandLog(0).count(QByteArray("SBR") + (to == "921600" ? '\x09' : '\x01') + ';'), 1);
        // The stream runs on, readable at the rate the link reports.
        QVERIFY(rig->link.isStreaming() && rig->sim.isStreaming(0));
        StreamSample samples[1000];
        while (rig->link.takeSamples(samples, 1000) > 0) {
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig->link.storedSamples() > 0, 5000);

        QVERIFY(click(dialog, "clear_pushButton"));
        QVERIFY(click(dialog, "buttonGAS"));
        QVERIFY(paneText(dialog).startsWith("Get Active Signal: \n  Active 1: "));
    }
};

QTEST_MAIN(ServiceDialogTest)
#include "tst_servicedialog.moc"
