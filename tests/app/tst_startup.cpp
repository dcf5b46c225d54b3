// Start-up: switches, the log line format and file, the OpenMP thread rule,
// window placement, and the real program writing its log.

#include "app/MessageHandler.h"
#include "app/StartupFlags.h"
#include "app/WindowPlacement.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class StartupTest : public QObject
{
    Q_OBJECT

    static QString readLog(const QString &directory)
    {
        QFile file(QDir(directory).filePath("log.txt"));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }

private slots:
    void switchesAreLoggedOnlyOnceLoggingIsOn()
    {
        QTemporaryDir dir;
        dataDirectory.setPath(dir.path());
        loggingEnabled = serviceMode = false, autoSearch = true;
        QtMessageHandler previous = qInstallMessageHandler(messageHandler);
        applyCommandLineSwitches({"-s", "-l", "-x", "-sl", "-a", "-a", "-e", "-d"});
        qInstallMessageHandler(previous);

        QCOMPARE((QList<bool>{serviceMode, loggingEnabled, autoSearch, otherSerialDevices, detectorTuning}),
                 (QList<bool>{true, true, false, true, true}));
        const QRegularExpression line("^\\d\\d\\.\\d\\d\\.\\d\\d,\\d\\d:\\d\\d:\\d\\d\\.\\d{3}:\\[Info\\]:(.*)$");
        QStringList texts; // the service mode is never logged
        for (const QString &l : readLog(dir.path()).split('\n', Qt::SkipEmptyParts)) {
            const auto match = line.match(l);
            QVERIFY2(match.hasMatch(), qPrintable(l));
            texts << match.captured(1);
        }
        QCOMPARE(texts, (QStringList{"Activated logging", "Unrecognized command line argument -x", "Unrecognized command line argument -sl",
                                     "Deactivated automatic search for serial devices", "Deactivated automatic search for serial devices",
                                     "Activated support for serial devices other than FTDI",
                                     "Activated settings for tuning the detector sensitivity"}));
        loggingEnabled = false;
    }

    void logFormatAndWindowPlacement()
    {
        const QDateTime time(QDate(2026, 12, 5), QTime(7, 8, 9, 12));
        QCOMPARE(formatLogLine(time, QtDebugMsg, "a") + '|' + formatLogLine(time, QtCriticalMsg, "b"),
                 QStringLiteral("05.12.26,07:08:09.012:[Debug]:a|05.12.26,07:08:09.012:[Critical]:b"));
        // Shrunk to 1280 x 960 and centred where the screen has room for it; only the height short; odd margin.
        const QList<QPair<QSize, QRect>> screens{{{1024, 768}, {0, 0, 1024, 768}}, {{1920, 1080}, {320, 60, 1280, 960}},
                                                 {{1600, 900}, {0, 0, 1600, 900}}, {{1281, 961}, {0, 0, 1280, 960}}};
        for (const auto &[screen, window] : screens)
            QCOMPARE(mainWindowGeometry(screen), window);
    }

    void programWritesItsLogIntoTheDocumentsDirectory()
    {
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(BEAMSTAB_BINARY, {"-s", "-l", "-x"});
        QVERIFY(program.waitForStarted());
        const QString dataPath = home.path() + "/Documents/Talvix";
        QTRY_VERIFY_WITH_TIMEOUT(readLog(dataPath).contains("Number of command line arguments passed: 3"), 20000);
        program.kill();
        program.waitForFinished();

        const QString log = readLog(dataPath);
        QVERIFY(QDir(dataPath).exists("Data"));
        QVERIFY(!log.contains("Activated service mode"));
        QVERIFY(log.contains(":[Info]:Unrecognized command line argument -x\n"));
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
