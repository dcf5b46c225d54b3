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
    void logLinesHaveTheFixedFormat_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("line");
        QTest::newRow("debug") << int(QtDebugMsg) << "05.12.26,07:08:09.012:[Debug]:text";
        QTest::newRow("critical") << int(QtCriticalMsg) << "05.12.26,07:08:09.012:[Critical]:text";
    }
    void logLinesHaveTheFixedFormat()
    {
        QFETCH(int, type);
        QFETCH(QString, line);
        const QDateTime time(QDate(2026, 12, 5), QTime(7, 8, 9, 12));
        QCOMPARE(formatLogLine(time, QtMsgType(type), "text"), line);
    }

    void switchesAreLoggedOnlyOnceLoggingIsOn()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        dataDirectory.setPath(dir.path());
        loggingEnabled = false;
        serviceMode = false;
        autoSearch = true;
        QtMessageHandler previous = qInstallMessageHandler(messageHandler);
        applyCommandLineSwitches({"-s", "-l", "-x", "-sl", "-a", "-a", "-e", "-d"});
        qInstallMessageHandler(previous);

        QVERIFY(serviceMode);
        QVERIFY(loggingEnabled);
        QVERIFY(!autoSearch);
        QVERIFY(otherSerialDevices);
        QVERIFY(detectorTuning);
        const QString log = readLog(dir.path());
        QVERIFY(!log.contains("Activated service mode"));
        const QRegularExpression line("^\\d\\d\\.\\d\\d\\.\\d\\d,\\d\\d:\\d\\d:\\d\\d\\.\\d{3}:\\[Info\\]:(.*)$");
        QStringList texts;
        for (const QString &l : log.split('\n', Qt::SkipEmptyParts)) {
            const auto match = line.match(l);
            QVERIFY2(match.hasMatch(), qPrintable(l));
            texts << match.captured(1);
        }
        QCOMPARE(texts, (QStringList{"Activated logging", "Unrecognized command line argument -x",
                                     "Unrecognized command line argument -sl",
                                     "Deactivated automatic search for serial devices",
                                     "Deactivated automatic search for serial devices",
                                     "Activated support for serial devices other than FTDI",
                                     "Activated settings for tuning the detector sensitivity"}));
        loggingEnabled = false;
    }

    void openMpLeavesOneThreadFreeFromEight_data()
    {
        QTest::addColumn<int>("available");
        QTest::addColumn<int>("used");
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("7") << 7 << 7;
        QTest::newRow("8") << 8 << 7;
        QTest::newRow("64") << 64 << 63;
    }
    void openMpLeavesOneThreadFreeFromEight()
    {
        QFETCH(int, available);
        QFETCH(int, used);
        QCOMPARE(openMpThreadCount(available), used);
    }

    void windowIsShrunkAndCentred_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QRect>("window");
        QTest::newRow("small screen") << QSize(1024, 768) << QRect(0, 0, 1024, 768);
        QTest::newRow("full hd") << QSize(1920, 1080) << QRect(320, 60, 1280, 960);
        QTest::newRow("only height short") << QSize(1600, 900) << QRect(0, 0, 1600, 900);
        QTest::newRow("odd margin") << QSize(1281, 961) << QRect(0, 0, 1280, 960);
    }
    void windowIsShrunkAndCentred()
    {
        QFETCH(QSize, screen);
        QFETCH(QRect, window);
        QCOMPARE(mainWindowGeometry(screen), window);
    }

    void programWritesItsLogIntoTheDocumentsDirectory()
    {
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.remove("HOMEDRIVE");
        env.remove("HOMEPATH");
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
