// The main window together with its dialogs: the connection settings dialog
// loading the default setup and following controllers that go away, the
// recording dialog writing what the display shows, the service dialog
// receiving the active controller. All against the embedded simulator.

#include "WindowFixture.h"

#include "LogCapture.h"

#include "../recording/RecordTestUtil.h"

#include "app/StartupFlags.h"
#include "recording/DataLoggerDialog.h"
#include "service/ServiceDialog.h"
#include "setup/ConnectionWidget.h"
#include "setup/Settings.h"
#include "setup/SettingsDialog.h"

#include <QCheckBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

namespace {

// The benchmark sequence number (see sequenceOf(StreamSample)) read back
// from a recorded line (X2 and Y2 in volts).
quint32 sequenceOf(const QList<QByteArray> &row)
{
    const auto low = quint16(qint16(qRound(row[4].toDouble() * 1000)));
    const auto high = quint16(qint16(qRound(row[5].toDouble() * 1000)));
    return quint32(high) << 16 | low;
}

ConnectionWidget *rowOf(SettingsDialog *dialog, const QString &address)
{
    for (ConnectionWidget *row : dialog->findChildren<ConnectionWidget *>())
        if (row->address() == address)
            return row;
    return nullptr;
}

QString rowButtonText(SettingsDialog *dialog, const QString &address)
{
    QPushButton *button = child(rowOf(dialog, address), "Button");
    return button ? button->text() : QString();
}

} // namespace

class IntegrationTest : public QObject
{
    Q_OBJECT

    QTemporaryDir home;

    // The default setup file of the user: one TCP/IP record per simulated
    // controller, auto-connected where the pattern has a 1.
    bool writeDefaultSetup(const Simulator &sim, const QString &autoPattern)
    {
        QList<ConnectionSettings> records;
        for (int i = 0; i < autoPattern.size(); ++i) {
            ConnectionSettings record = simSettings(i);
            record.portOrBaud = sim.port(i);
            setFixedText(record.id, QString::fromLatin1(sim.identification(i)));
            setFixedText(record.label, QStringLiteral("SIM%1").arg(i));
            record.autoConnect = autoPattern.at(i) == QLatin1Char('1');
            records << record;
        }
        Settings file;
        return file.setConnections(records) && file.saveSetupFile(Settings::defaultFilePath());
    }

    void removeDefaultSetup() { QFile::remove(Settings::defaultFilePath()); }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        // The per-user directory follows HOME, as at a real start.
        qputenv("HOME", home.path().toLocal8Bit());
        qunsetenv("HOMEDRIVE");
        qunsetenv("HOMEPATH");
        dataDirectory.setPath(defaultDataDirectoryPath());
        QVERIFY(dataDirectory.path().startsWith(home.path()));
        QVERIFY(dataDirectory.mkpath(QStringLiteral("Data")));
    }
    void init() { removeDefaultSetup(); }

    // The window loads the default setup while it is built: every stored
    // controller gets a row and a place in the window, the auto-connected
    // ones are displayed and stream once acquisition starts.
    void defaultSetupLoadedAtStart_data()
    {
        QTest::addColumn<QString>("autoPattern");
        QTest::newRow("three, middle not auto") << "101";
        QTest::newRow("two, none auto") << "00";
    }
    void defaultSetupLoadedAtStart()
    {
        QFETCH(QString, autoPattern);
        WindowFixture f;
        QVERIFY(f.start(autoPattern.size(), SimConfig(), false) && writeDefaultSetup(f.sim, autoPattern));
        f.openWindow();

        QList<int> shown;
        for (int i = 0; i < autoPattern.size(); ++i)
            if (autoPattern.at(i) == QLatin1Char('1'))
                shown << i;
        QCOMPARE(f.window->displayed(), shown);
        QCOMPARE((QList<int>{f.window->connections().size(), f.window->activeIndex(), f.startAction()->isEnabled()}),
                 (QList<int>{autoPattern.size(), shown.value(0, -1), !shown.isEmpty()}));
        for (int i = 0; i < autoPattern.size(); ++i) {
            const ControllerStatus &status = f.window->controllerStatus().at(i);
            QCOMPARE(f.window->connections().at(i)->address(), simAddress(i));
            QCOMPARE(status.colorX.rgb(), simSettings(i).colorX.rgb());
            QCOMPARE(status.controllerId, QString::fromLatin1(f.sim.identification(i)));
            QCOMPARE(rowButtonText(f.window->settingsDialog(), simAddress(i)), shown.contains(i) ? "Disconnect" : "Reconnect");
        }
        if (shown.isEmpty())
            return;

        f.startAction()->trigger();
        for (int i : shown) {
            QTRY_VERIFY_WITH_TIMEOUT(f.sim.isStreaming(i), 5000);
            QTRY_VERIFY_WITH_TIMEOUT(curveSize(f.window->timePlot(1), 2 * i) > 0, 5000);
        }
        for (int i = 0; i < autoPattern.size(); ++i)
            QVERIFY(shown.contains(i) || !f.sim.isStreaming(i));
        QVERIFY(f.stop());
    }

    // A recording started from the dialog, at save rate = sampling rate,
    // writes every sample the display processed exactly once, with the
    // values it showed; stopping from the dialog or by stopping acquisition
    // ends it with complete files and the window showing it disabled.
    void recordingFromTheDialog_data()
    {
        QTest::addColumn<bool>("multi");
        QTest::addColumn<bool>("stopAcquisition");
        QTest::newRow("one file, stopped in the dialog") << false << false;
        QTest::newRow("a file per controller, stopped with acquisition") << true << true;
    }
    void recordingFromTheDialog()
    {
        QFETCH(bool, multi);
        QFETCH(bool, stopAcquisition);
        WindowFixture f;
        SimConfig bench;
        bench.bench = true;
        QVERIFY(f.start(2, bench));
        for (int i = 0; i < 2; ++i) {
            ConnectionSettings settings = simSettings(i);
            setFixedText(settings.id, QString::fromLatin1(f.sim.identification(i)));
            QVERIFY(f.add(i, settings));
        }
        f.counter("counterSamplingRate")->setValue(500);

        // What the display processed, per connection, by sequence number.
        QVector<QHash<quint32, StreamSample>> seen(2);
        f.window->setSampleObserver([&](int, int c, const StreamSample &sample) {
            seen[c].insert(sequenceOf(sample), sample);
        });

        QAction *open = f.widget<QAction>("actionRecordingOpen");
        QVERIFY(open && open->isEnabled());
        open->trigger();
        DataLoggerDialog *dialog = f.window->dataLoggerDialog();
        QVERIFY(dialog->isVisible() && dialog->saveRate() == 500);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("run.txt"));
        child<QLineEdit>(dialog, "lineEdit_FileName")->setText(path);
        child<QCheckBox>(dialog, "checkBox")->setChecked(multi);
        QPushButton *start = child(dialog, "pushButton_Start");
        QVERIFY(start->isEnabled());
        start->click();

        // The acquisition was started for the recording.
        QVERIFY(f.startAction()->isChecked() && f.window->recorder().isRecording());
        QCOMPARE(f.widget<QLabel>("labelRecording")->text(), QStringLiteral("Data recording enabled"));
        const QStringList files = f.window->recorder().filePaths();
        QCOMPARE(files.size(), multi ? 2 : 1);
        QVERIFY(f.streaming(2, true));
        QTRY_VERIFY_WITH_TIMEOUT(f.window->recorder().linesWritten() > (multi ? 2000 : 1000), 20000);

        stopAcquisition ? f.startAction()->trigger() : child(dialog, "pushButton_Stop")->click();
        QVERIFY(!f.window->recorder().isRecording() && !dialog->isRecording() && start->isEnabled());
        QCOMPARE(f.widget<QLabel>("labelRecording")->text(), QStringLiteral("Data recording disabled"));
        QCOMPARE(f.startAction()->isChecked(), !stopAcquisition);

        for (int k = 0; k < files.size(); ++k) {
            const RecordingText text = readRecording(files[k]);
            QVERIFY2(text.ok && text.endsWithFeed, qPrintable(files[k]));
            QVERIFY(text.rows.size() > 500);
            const quint32 first = sequenceOf(text.rows.first());
            for (int i = 0; i < text.rows.size(); ++i) {
                const QList<QByteArray> &row = text.rows[i];
                // Every counter value once, none missing, none twice.
                QCOMPARE(sequenceOf(row), first + quint32(i));
                const auto shown = seen[k].constFind(first + quint32(i));
                QVERIFY2(shown != seen[k].constEnd(), "a recorded sample the display never processed");
                // The columns themselves are the recording tests'; here, the display's sample.
                QCOMPARE(qMakePair(qRound(row[1].toDouble() * 1000), row[6]),
                         qMakePair(int(shown->x1), QByteArray::number(shown->intensity2 * 0.001, 'f', 2)));
            }
            // The description beside it names the controller of its lines.
            const QJsonObject meta = readJson(files[k]);
            QCOMPARE(meta["controller"].toObject()["id"].toString(), QString::fromLatin1(f.sim.identification(k)));
        }
        QCOMPARE(files, (multi ? QStringList{dir.filePath("run_SIM0.txt"), dir.filePath("run_SIM1.txt")} : QStringList{path}));
    }

    // A recording whose file cannot be written ends with a message naming the
    // file and the reason; the acquisition goes on. A file-size limit stands
    // in for a full disk (failing later), /dev/full for a file whose header
    // cannot be written (failing at the start).
    void recordingThatCannotBeWritten_data()
    {
        QTest::addColumn<bool>("atStart");
        QTest::newRow("disk full while recording") << false;
        QTest::newRow("header cannot be written") << true;
    }
    void recordingThatCannotBeWritten()
    {
        QFETCH(bool, atStart);
        WindowFixture f;
        QVERIFY(f.connect(1) && f.acquire(1, 500));

        QTemporaryDir dir;
        const QString path = atStart ? QStringLiteral("/dev/full") : dir.filePath(QStringLiteral("limited.txt"));
        rlimit old{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = old;
        limited.rlim_cur = 20000;
        if (!atStart)
            QVERIFY(setrlimit(RLIMIT_FSIZE, &limited) == 0);
        f.widget<QAction>("actionRecordingOpen")->trigger();
        DataLoggerDialog *dialog = f.window->dataLoggerDialog();
        child<QLineEdit>(dialog, "lineEdit_FileName")->setText(path);
        // /dev/full exists: the dialog's overwrite question is passed by
        // starting the way the dialog does after a yes.
        if (atStart)
            QMetaObject::invokeMethod(f.window.get(), "startDataRecordingFromDlg", Q_ARG(QString, path), Q_ARG(bool, false));
        else
            child(dialog, "pushButton_Start")->click();
        const char *boxName = atStart ? "recordingStartFailedBox" : "recordingFailedBox";
        QTRY_VERIFY_WITH_TIMEOUT(f.widget<QMessageBox>(boxName), 20000);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        const QMessageBox *box = f.widget<QMessageBox>(boxName);
        QVERIFY2(box->icon() == QMessageBox::Critical && box->text().contains(path), qPrintable(box->text()));
        QVERIFY(!f.window->recorder().isRecording() && !dialog->isRecording());
        QCOMPARE(f.widget<QLabel>("labelRecording")->text(), QStringLiteral("Data recording disabled"));
        QVERIFY(f.startAction()->isChecked() && f.sim.isStreaming(0));
    }

    // A controller that goes away is disconnected through the connection
    // dialog with one notice: its row offers "Reconnect", the others keep
    // streaming, and the row's button brings it back into the display in
    // its old place, colours and label.
    void controllerGoingAwayFlipsItsRow()
    {
        LogCapture log;
        WindowFixture f;
        QVERIFY(f.start(3, SimConfig(), false) && writeDefaultSetup(f.sim, QStringLiteral("111")));
        f.openWindow();
        QCOMPARE(f.window->displayed(), (QList<int>{0, 1, 2}));
        SettingsDialog *dialog = f.window->settingsDialog();
        QVERIFY(f.acquire(3));

        SimFaults close;
        close.closeAfterMs = 1;
        f.sim.setFaults(1, close);
        QTRY_COMPARE_WITH_TIMEOUT(rowButtonText(dialog, simAddress(1)), QStringLiteral("Reconnect"), 5000);
        QCOMPARE(f.window->displayed(), (QList<int>{0, 2}));
        QVERIFY(!f.window->controllerStatus().at(1).connected && f.startAction()->isChecked());
        QCOMPARE(rowButtonText(dialog, simAddress(0)) + rowButtonText(dialog, simAddress(2)), QStringLiteral("DisconnectDisconnect"));
        f.window->timePlot(1)->clearAllCurves();
        QTRY_VERIFY_WITH_TIMEOUT(curveSize(f.window->timePlot(1), 0) > 0 && curveSize(f.window->timePlot(1), 4) > 0, 5000);
        QCOMPARE(curveSize(f.window->timePlot(1), 2), 0);
        QCOMPARE(log.lines().filter(QStringLiteral("went away")).size(), 1);

        f.sim.setFaults(1, SimFaults());
        child(rowOf(dialog, simAddress(1)), "Button")->click();
        QTRY_COMPARE_WITH_TIMEOUT(rowButtonText(dialog, simAddress(1)), QStringLiteral("Disconnect"), 5000);
        const ControllerStatus &back = f.window->controllerStatus().at(1);
        QVERIFY(f.window->displayed().contains(1) && back.colorX.rgb() == simSettings(1).colorX.rgb() && back.label == "SIM1");
        QTRY_VERIFY_WITH_TIMEOUT(f.sim.isStreaming(1), 5000);

        // Deleting the row takes the controller out of the window.
        child(rowOf(dialog, simAddress(2)), "deleteButton")->click();
        QCOMPARE(f.window->connections().size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!rowOf(dialog, simAddress(2)), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!f.sim.hasClient(2), 5000);
    }

    // "Operation Tests" hands the active controller (the first displayed)
    // to the service dialog; without a displayed controller it has none.
    void serviceMenuHandsTheActiveConnection()
    {
        WindowFixture f;
        QVERIFY(f.start(2));
        QAction *tests = f.widget<QAction>("actionOperationTests");
        QVERIFY(tests && tests->isEnabled());
        ServiceDialog *service = f.window->serviceDialog();
        // Controllers added one by one, then the first taken out of the display.
        for (int step = 0; step < 4; ++step) {
            if (step == 1 || step == 2)
                QVERIFY(f.add(step - 1));
            if (step == 3)
                f.window->showConnection(simAddress(0), false);
            tests->trigger();
            QVERIFY(service->isVisible());
            const int active = f.window->activeIndex();
            QCOMPARE(active, step == 0 ? -1 : step == 3 ? 1 : 0);
            QCOMPARE(service->connection(), active < 0 ? nullptr : f.window->connections().at(active));
        }
    }
};

QTEST_MAIN(IntegrationTest)
#include "tst_integration.moc"
