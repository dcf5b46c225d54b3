// The controller list of the main window and the stage commands, against
// the embedded simulator: what the window shows and what reached each
// controller (its command log).

#include "display/SamplingRateLimit.h"
#include "display/Acquisition.h"
#include "display/PlotPanel.h"
#include "WindowFixture.h"
#include "controller/Controller.h"

#include "display/PointingStatistics.h"
#include "link/SerialPort.h"

#include <QMessageBox>
#include <QTemporaryDir>

class ControllerListTest : public QObject
{
    Q_OBJECT

    RowShared<WindowFixture> shared;

private slots:
    void init() { shared.drop(); }
    void cleanup() { shared.dropIfFailed(); }
    void cleanupTestCase() { shared.drop(); }

    void slowSerialLinkLimitsTheRates_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("limit");
        QTest::newRow("115200 baud") << 115200 << 430;
        QTest::newRow("921600 baud") << 921600 << 500;
    }
    void slowSerialLinkLimitsTheRates()
    {
        QFETCH(int, baud);
        QFETCH(int, limit);
        WindowFixture *f = shared.get([](WindowFixture &f) { return f.connect(1); });
        QVERIFY(f);
        LinkedSpinBox *sampling = f->counter("counterSamplingRate"), *update = f->counter("counterUpdateRate");
        sampling->setValue(480);
        update->setValue(480);

        Simulator serialSim; // a serial controller beside it
        QTemporaryDir devices;
        const QString name = QStringLiteral("ttyUSB%1").arg(QCoreApplication::applicationPid());
        QVERIFY(serveSerial(serialSim, devices, {name}));
        auto *serial = new SerialPort;
        serial->setDeviceDirectory(devices.path());
        QVERIFY(serial->initialize(name, baud));
        serial->start();
        QVERIFY(waitUntilConnected(*serial));
        ConnectionSettings settings = simSettings(1);
        f->window->newConnection(new Controller(std::unique_ptr<Connection>(serial)), &settings);
        QCOMPARE((QList<int>{f->window->parts().rates->maximum(), sampling->maximum(), update->maximum(), sampling->value(), update->value()}),
                 (QList<int>{limit, limit, limit, qMin(480, limit), qMin(480, limit)}));
        QVERIFY(closeController(f->window.get(), serial->address()));
        QVERIFY(f->window->parts().rates->maximum() == 500);
        QVERIFY(sampling->maximum() == 500);
    }

    void fiftyFirstControllerConnectsButIsNotDisplayed()
    {
        WindowFixture f;
        QVERIFY(f.start(51));
        for (int i = 0; i < 51; ++i)
            QVERIFY(f.add(i, simSettings(i), false));
        QCOMPARE(f.window->controllerRegistry().displayed.size(), 50);
        const ControllerStatus last = f.window->controllerRegistry().controllerStatus.at(50);
        QVERIFY(last.connected);
        QVERIFY(!last.shown);
        QVERIFY(f.window->controllerRegistry().controllerStatus.at(49).shown);
        QCOMPARE(qMakePair(f.window->positionPlot(1)->curveCount(), f.window->timePlot(2)->curveCount()), qMakePair(51, 102));
        // Room again: it can be shown.
        f.window->showConnection(simAddress(0), false);
        f.window->showConnection(simAddress(50), true);
        QVERIFY(f.window->controllerRegistry().controllerStatus.at(50).shown);
        QVERIFY(f.window->controllerRegistry().displayed.last() == 50);
    }

    // Three controllers of distinct colours; the middle one goes.
    void removingAControllerReindexesEverythingBehindIt()
    {
        WindowFixture f;
        QVERIFY(f.connect(3));
        QVERIFY(f.acquire(3));
        QVERIFY(closeController(f.window.get(), simAddress(1)));
        QCOMPARE(f.window->controllerRegistry().displayed, (QList<int>{0, 1}));
        QCOMPARE((QList<int>{f.window->controllerRegistry().activeIndex, f.window->controllerRegistry().controllers.size(), f.window->parts().plotPanel->statistics()->connectionCount()}),
                 (QList<int>{0, 2, 2}));
        QCOMPARE(f.window->controllerRegistry().controllerStatus.at(1).address, simAddress(2));
        const ConnectionSettings first = simSettings(0), third = simSettings(2);
        for (int s = 1; s <= 2; ++s) {
            GenericPlot *time = f.window->timePlot(s);
            QCOMPARE(qMakePair(f.window->positionPlot(s)->curveCount(), time->curveCount()), qMakePair(2, 4));
            QCOMPARE((QList<QColor>{f.window->positionPlot(s)->curveColor(1), f.window->intensityPlot(s)->curveColor(1),
                                    time->curveColor(2), time->curveColor(3), time->curveColor(0)}),
                     (QList<QColor>{third.colorI, third.colorI, third.colorX, third.colorY, first.colorX}));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!f.sim.hasClient(1), 5000);
        // The others stream on, into their own curves.
        QVERIFY(!f.sim.isStreaming(1));
        QVERIFY(f.sim.isStreaming(0));
        QVERIFY(f.sim.isStreaming(2));
        f.window->timePlot(1)->clearAllCurves();
        QTRY_VERIFY_WITH_TIMEOUT(curveSize(f.window->timePlot(1), 0) > 0 && curveSize(f.window->timePlot(1), 2) > 0, 5000);
    }

    void linkHandedOverUnconnectedIsShownAfterReconnecting()
    {
        WindowFixture f;
        QVERIFY(f.start(1));
        auto *idle = new TcpClient; // initialized, thread not started
        QVERIFY(idle->initialize(simAddress(0), f.sim.port(0)));
        ConnectionSettings settings = simSettings(0);
        f.window->newConnection(new Controller(std::unique_ptr<Connection>(idle)), &settings);
        QVERIFY(f.window->controllerRegistry().displayed.isEmpty());
        QVERIFY(!f.window->controllerRegistry().controllerStatus.at(0).connected);
        QVERIFY(!f.startAction()->isEnabled());
        QString boardID;
        QVERIFY(reconnectController(f.window.get(), simAddress(0), boardID));
        QCOMPARE(boardID, QString::fromLatin1(f.sim.identification(0)));
        QVERIFY(f.window->controllerRegistry().displayed == QList<int>{0});
        QVERIFY(f.window->controllerRegistry().controllerStatus.at(0).connected);
        QVERIFY(f.startAction()->isEnabled());

        // After the controller was replaced, the new ID is reported so the connection dialog can refuse it.
        QVERIFY(disconnectController(f.window.get(), simAddress(0)));
        QVERIFY(f.window->controllerRegistry().displayed.isEmpty());
        SimConfig other = f.sim.config(0);
        other.idText = QStringLiteral("OTHER77");
        f.sim.setConfig(0, other);
        QVERIFY(reconnectController(f.window.get(), simAddress(0), boardID));
        QVERIFY(boardID.contains(QStringLiteral("OTHER77")));
    }

    // The pause, command and resume around a stage button on a streaming controller, in that order.
    void stageButtonWhileStreaming_data()
    {
        QTest::addColumn<int>("firmware");
        QTest::addColumn<bool>("refuse");
        QTest::newRow("firmware 31") << 31 << false;
        QTest::newRow("firmware 10 reads the status") << 10 << false;
        QTest::newRow("refused: sent twice, button unchanged") << 31 << true;
    }
    void stageButtonWhileStreaming()
    {
        QFETCH(int, firmware);
        QFETCH(bool, refuse);
        SimConfig config;
        config.firmware = firmware;
        WindowFixture f;
        QVERIFY(f.connect(1, config));
        if (refuse)
            f.refuse(0, {"SEA"});
        QVERIFY(f.acquire(1, 250));
        auto *button = f.widget<QPushButton>("push_Stab1");
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 10000); // the stream start is over
        f.sim.clearCommandLog(0);
        button->click();
        QVERIFY(!button->isEnabled()); // until the command is over
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled() && f.sim.isStreaming(0), 10000);
        QCOMPARE(f.codes(0).join(' '), QStringLiteral("CLS SEA %1%2SLS").arg(refuse ? "SEA " : "", firmware < 11 ? "GSF " : ""));
        QCOMPARE(f.commands(0, "SEA").first() + f.commands(0, "SLS").first(), QByteArray("SEA\x01;SLS") + rateArguments(250));
        QCOMPARE(button->text(), refuse ? QStringLiteral("OFF") : QStringLiteral("ON"));
        QCOMPARE(f.window->controllerRegistry().controllers.at(0)->link().samplingRate(), 250);

        if (!refuse) {
            f.sim.clearCommandLog(0);
            QVERIFY(f.widget<QPushButton>("push_Stab2")->isEnabled());
            f.widget<QPushButton>("push_Stab2")->click();
            QTRY_COMPARE_WITH_TIMEOUT(f.commands(0, "SEA").value(0), QByteArray("SEA\x02;"), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(f.sim.isStreaming(0), 5000);
        }
    }

    void fourthFailedStatusQueryStopsAcquisition()
    {
        WindowFixture f;
        QVERIFY(f.connect(1));
        QVERIFY(f.acquire());
        // A streaming controller answers nothing but the stream stop, so
        // every status query fails.
        auto *box = f.widget<QMessageBox>("communicationErrorBox");
        for (int i = 1; i <= 3; ++i) {
            QMetaObject::invokeMethod(f.window.get(), "requestActiveStatus");
            QTRY_COMPARE_WITH_TIMEOUT(f.window->parts().acquisition->errorCount(), i, 10000);
            QVERIFY(f.startAction()->isChecked());
            QVERIFY(!box->isVisible());
        }
        QMetaObject::invokeMethod(f.window.get(), "requestActiveStatus");
        QTRY_VERIFY_WITH_TIMEOUT(box->isVisible() && !f.startAction()->isChecked(), 10000);
        // The stream stops, and the next good status reply (the tick polls
        // the idle controller) resets the count.
        QTRY_VERIFY_WITH_TIMEOUT(!f.sim.isStreaming(0), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(f.window->parts().acquisition->errorCount(), 0, 10000);
    }

    void labelAndGroupChanges()
    {
        WindowFixture f;
        QVERIFY(f.connect(2));
        f.window->changeLabel(simAddress(1), QStringLiteral("Beam_B"));
        QTRY_VERIFY_WITH_TIMEOUT(f.commands(1, "SLA").value(0).startsWith("SLABeam_B "), 10000); // the bytes themselves: link tests
        QCOMPARE(f.window->controllerRegistry().controllers.at(1)->link().label(), QStringLiteral("Beam_B"));

        f.window->changeGroupId(QStringLiteral("192.0.2.1"), 5);
        f.window->changeGroupId(simAddress(0), 3);
        QCOMPARE(qMakePair(f.window->controllerRegistry().controllerStatus.at(0).groupId, f.window->controllerRegistry().controllerStatus.at(1).groupId), qMakePair(3, 0));

        // What a save takes from the window: only a list of matching length.
        QList<ConnectionSettings> records{ConnectionSettings()};
        QVERIFY(!f.window->updateSettingsAndParameters(records));
        records << ConnectionSettings();
        QVERIFY(f.window->updateSettingsAndParameters(records));
        QCOMPARE(records[1].label, QStringLiteral("Beam_B"));
        QVERIFY(records[1].position == 1);
    }
};

QTEST_MAIN(ControllerListTest)
#include "tst_controllerlist.moc"
