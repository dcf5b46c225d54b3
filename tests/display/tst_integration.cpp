// The main window together with its dialogs: the connection settings dialog
// loading the default setup and following controllers that go away, the
// recording dialog writing what the display shows, the service dialog
// receiving the active controller. All against the embedded simulator.

#include "WindowFixture.h"
#include "controller/Controller.h"

#include "LogCapture.h"

#include "../recording/RecordTestUtil.h"

#include "app/StartupFlags.h"
#include "display/HelpMenu.h"
#include "display/RecordingControl.h"
#include "recording/DataLoggerDialog.h"
#include "recording/Recorder.h"
#include "service/ServiceDialog.h"
#include "setup/ConnectionWidget.h"
#include "setup/Settings.h"
#include "setup/SettingsDialog.h"

#include <QCheckBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
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

ConnectionWidget *rowOf(SettingsDialog *dialog, int i)
{
    for (ConnectionWidget *row : dialog->findChildren<ConnectionWidget *>())
        if (row->address() == simAddress(i))
            return row;
    return nullptr;
}

// The texts of the rows' connect buttons, one letter each: D(isconnect), R(econnect), - (no row).
QString rowButtons(SettingsDialog *dialog, int n)
{
    QString letters;
    for (int i = 0; i < n; ++i)
        letters += rowOf(dialog, i) ? child(rowOf(dialog, i), "Button")->text().left(1) : QStringLiteral("-");
    return letters;
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
            record.id = QString::fromLatin1(sim.identification(i));
            record.label = QStringLiteral("SIM%1").arg(i);
            record.autoConnect = autoPattern.at(i) == QLatin1Char('1');
            records << record;
        }
        Settings file;
        return file.setConnections(records) && file.saveSetupFile(Settings::defaultFilePath());
    }

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
    void init() { QFile::remove(Settings::defaultFilePath()); }

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
            settings.id = QString::fromLatin1(f.sim.identification(i));
            QVERIFY(f.add(i, settings));
        }
        f.counter("counterSamplingRate")->setValue(500);

        // What the display processed, per connection, by sequence number.
        QVector<QHash<quint32, StreamSample>> seen(2);
        f.window->setSampleObserver([&](int, int c, const StreamSample &sample) { seen[c].insert(sequenceOf(sample), sample); });

        f.widget<QAction>("actionRecordingOpen")->trigger();
        DataLoggerDialog *dialog = f.window->parts().recording->dialog();
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->saveRate() == 500);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("run.txt"));
        child<QLineEdit>(dialog, "lineEdit_FileName")->setText(path);
        child<QCheckBox>(dialog, "checkBox")->setChecked(multi);
        QPushButton *start = child(dialog, "pushButton_Start");
        start->click();
        // The acquisition was started for the recording.
        QVERIFY(f.startAction()->isChecked());
        QVERIFY(f.window->parts().recording->recorder().isRecording());
        QVERIFY(f.streaming(2, true));
        QCOMPARE(f.widget<QLabel>("labelRecording")->text(), QStringLiteral("Data recording enabled"));
        const QStringList files = f.window->parts().recording->recorder().filePaths();
        QCOMPARE(files, (multi ? QStringList{dir.filePath("run_SIM0.txt"), dir.filePath("run_SIM1.txt")} : QStringList{path}));
        QTRY_VERIFY_WITH_TIMEOUT(f.window->parts().recording->recorder().linesWritten() > (multi ? 2000 : 1000), 20000);

        stopAcquisition ? f.startAction()->trigger() : child(dialog, "pushButton_Stop")->click();
        QVERIFY(!f.window->parts().recording->recorder().isRecording());
        QVERIFY(!dialog->isRecording());
        QVERIFY(start->isEnabled());
        QCOMPARE(f.widget<QLabel>("labelRecording")->text(), QStringLiteral("Data recording disabled"));
        QCOMPARE(f.startAction()->isChecked(), !stopAcquisition);

        for (int k = 0; k < files.size(); ++k) {
            const RecordingText text = readRecording(files[k]);
            QVERIFY2(text.ok, qPrintable(files[k]));
            QVERIFY2(text.endsWithFeed, qPrintable(files[k]));
            QVERIFY2(text.rows.size() > 500, qPrintable(files[k]));
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
            QCOMPARE(readJson(files[k])["controller"].toObject()["id"].toString(), QString::fromLatin1(f.sim.identification(k)));
        }
    }

    // A recording whose file cannot be written (a file-size limit stands in
    // for a full disk) ends with a message naming the file; the acquisition goes on.
    void recordingThatCannotBeWritten()
    {
        WindowFixture f;
        QVERIFY(f.connect(1));
        QVERIFY(f.acquire(1, 500));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("limited.txt"));
        rlimit old{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = old;
        limited.rlim_cur = 20000;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limited) == 0);
        f.widget<QAction>("actionRecordingOpen")->trigger();
        DataLoggerDialog *dialog = f.window->parts().recording->dialog();
        child<QLineEdit>(dialog, "lineEdit_FileName")->setText(path);
        child(dialog, "pushButton_Start")->click();
        QTRY_VERIFY_WITH_TIMEOUT(f.widget<QMessageBox>("recordingFailedBox"), 20000);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        const QMessageBox *box = f.widget<QMessageBox>("recordingFailedBox");
        QVERIFY2(box->text().contains(path), qPrintable(box->text()));
        QVERIFY(!f.window->parts().recording->recorder().isRecording());
        QVERIFY(!dialog->isRecording());
        QCOMPARE(f.widget<QLabel>("labelRecording")->text(), QStringLiteral("Data recording disabled"));
        QVERIFY(f.startAction()->isChecked());
        QVERIFY(f.sim.isStreaming(0));
    }

    // The window loads the default setup while it is built: every stored
    // controller gets a row and its place, the auto-connected ones are
    // displayed and stream once acquisition starts. A controller that goes
    // away is disconnected with one notice: its row offers "Reconnect", the
    // others stream on, and the row's button brings it back in its old place,
    // colours and label.
    void defaultSetupAndAControllerGoingAway()
    {
        LogCapture log;
        WindowFixture f;
        QVERIFY(f.start(4, SimConfig(), false));
        QVERIFY(writeDefaultSetup(f.sim, QStringLiteral("1101")));
        f.openWindow();
        // The window is up before the setup's controllers have identified.
        QTRY_COMPARE_WITH_TIMEOUT(f.window->controllerRegistry().displayed, (QList<int>{0, 1, 3}), 20000);
        QStringList places, wanted;
        for (int i = 0; i < 4; ++i) {
            const ControllerStatus &status = f.window->controllerRegistry().controllerStatus.at(i);
            places << f.window->controllerRegistry().controllers.at(i)->address() + ' ' + status.controllerId + ' ' + status.colorX.name();
            wanted << simAddress(i) + ' ' + f.sim.identification(i) + ' ' + simSettings(i).colorX.name();
        }
        QCOMPARE(places, wanted);
        QCOMPARE(f.window->controllerRegistry().displayed, (QList<int>{0, 1, 3}));
        SettingsDialog *dialog = f.window->parts().settings;
        QCOMPARE(rowButtons(dialog, 4), QStringLiteral("DDRD"));
        QVERIFY(f.acquire(2));
        QTRY_VERIFY_WITH_TIMEOUT(f.sim.isStreaming(3), 5000);
        QVERIFY(!f.sim.isStreaming(2));

        SimFaults close;
        close.closeAfterMs = 1;
        f.sim.setFaults(1, close);
        QTRY_COMPARE_WITH_TIMEOUT(rowButtons(dialog, 4), QStringLiteral("DRRD"), 5000);
        QCOMPARE(f.window->controllerRegistry().displayed, (QList<int>{0, 3}));
        QVERIFY(!f.window->controllerRegistry().controllerStatus.at(1).connected);
        QVERIFY(f.startAction()->isChecked());
        f.window->timePlot(1)->clearAllCurves();
        QTRY_VERIFY_WITH_TIMEOUT(curveSize(f.window->timePlot(1), 0) > 0 && curveSize(f.window->timePlot(1), 6) > 0, 5000);
        QCOMPARE(curveSize(f.window->timePlot(1), 2), 0);
        QCOMPARE(log.lines().filter(QStringLiteral("went away")).size(), 1);

        f.sim.setFaults(1, SimFaults());
        child(rowOf(dialog, 1), "Button")->click();
        QTRY_COMPARE_WITH_TIMEOUT(rowButtons(dialog, 4), QStringLiteral("DDRD"), 5000);
        const ControllerStatus &back = f.window->controllerRegistry().controllerStatus.at(1);
        QVERIFY(f.window->controllerRegistry().displayed.contains(1));
        QVERIFY(back.colorX.rgb() == simSettings(1).colorX.rgb());
        QVERIFY(back.label == "SIM1");
        QTRY_VERIFY_WITH_TIMEOUT(f.sim.isStreaming(1), 5000);

        // Deleting the row takes the controller out of the window.
        child(rowOf(dialog, 3), "deleteButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(f.window->controllerRegistry().controllers.size(), 3, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!rowOf(dialog, 3) && !f.sim.hasClient(3), 5000);
    }

    // "Operation Tests" hands the active controller (the first displayed)
    // to the service dialog; without a displayed controller it has none.
    void serviceMenuHandsTheActiveConnection()
    {
        WindowFixture f;
        QVERIFY(f.start(2));
        QAction *tests = f.widget<QAction>("actionOperationTests");
        ServiceDialog *service = f.window->parts().help->serviceDialog();
        // Controllers added one by one, then the first taken out of the display.
        for (int step = 0; step < 4; ++step) {
            if (step == 1 || step == 2)
                QVERIFY(f.add(step - 1));
            if (step == 3)
                f.window->showConnection(simAddress(0), false);
            tests->trigger();
            const int active = step == 0 ? -1 : step == 3 ? 1 : 0;
            QVERIFY(service->isVisible());
            QVERIFY(f.window->controllerRegistry().activeIndex == active);
            QCOMPARE(service->controller(), active < 0 ? nullptr : f.window->controllerRegistry().controllers.at(active));
        }
    }
};

QTEST_MAIN(IntegrationTest)
#include "tst_integration.moc"
