// The recording dialog driven through its widgets, and the LargeTimer that
// runs its automatic stop.

#include "app/StartupFlags.h"
#include "recording/DataLoggerDialog.h"
#include "recording/LargeTimer.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

class DataLoggerDialogTest : public QObject
{
    Q_OBJECT

    template<typename T = QWidget>
    T *w(const char *name) { return m_dialog->findChild<T *>(name); }
    QPushButton *button(const char *name) { return w<QPushButton>(name); }
    // Clicks a button and answers the first modal window that opens with
    // answer; returns "title|text" of a message box, or what describe gives.
    QString clickAnswering(QPushButton *target, const std::function<QString(QWidget *)> &answer)
    {
        QString seen;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (QWidget *modal = QApplication::activeModalWidget())
                seen = answer(modal);
        });
        poll.start(10);
        QTest::mouseClick(target, Qt::LeftButton);
        return seen;
    }
    static std::function<QString(QWidget *)> boxAnswer(QMessageBox::StandardButton b)
    {
        return [b](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            box->button(b)->click();
            return box->windowTitle() + '|' + box->text();
        };
    }

    QTemporaryDir m_dir;
    std::unique_ptr<DataLoggerDialog> m_dialog;

private slots:
    void initTestCase()
    {
        dataDirectory = QDir(m_dir.path());
        QVERIFY(dataDirectory.mkpath("Data"));
    }

    void init()
    {
        m_dialog = std::make_unique<DataLoggerDialog>();
        m_dialog->show();
    }

    void estimate_data()
    {
        QTest::addColumn<int>("samplingRate");
        QTest::addColumn<QStringList>("texts"); // record time, data blocks, megabytes
        QTest::addColumn<bool>("warning");
        QTest::addColumn<bool>("rateEditable");
        QTest::newRow("a minute at 100 Hz") << 100 << QStringList{"000:01:00", "6000", "0.4"} << false << true;
        QTest::newRow("longest, trigger mode") << 1000 << QStringList{"999:99:99", "3602439000", "223311.0"} << true << false;
        QTest::newRow("just below 2 GiB") << 500 << QStringList{"018:21:00", "33030000", "2047.5"} << false << true;
        QTest::newRow("just above 2 GiB") << 500 << QStringList{"018:21:30", "33045000", "2048.4"} << true << true;
    }

    void estimate()
    {
        QFETCH(int, samplingRate);
        QFETCH(QStringList, texts);
        QFETCH(bool, warning);
        QFETCH(bool, rateEditable);
        auto *rate = w<QSpinBox>("spinBox_SaveRate");
        m_dialog->applySamplingRate(5); // the bound follows the sampling rate up again
        m_dialog->applySamplingRate(samplingRate);
        w<QLineEdit>("lineEdit_RecordTime")->setText(texts[0]);
        QCOMPARE(m_dialog->saveRate(), samplingRate);
        QCOMPARE(rate->isEnabled(), rateEditable);
        QCOMPARE(rate->text().isEmpty(), !rateEditable); // trigger mode: emptied, every sample saved
        QCOMPARE(QStringList({texts[0], w<QLineEdit>("lineEdit_DataBlocks")->text(), w<QLineEdit>("lineEdit_FileSize")->text()}), texts);
        QCOMPARE(w<QLabel>("lblWarningLargeFile")->isVisible(), warning);
        if (rateEditable) {
            QCOMPARE(rate->maximum(), samplingRate);
            rate->setValue(1);
            QCOMPARE(m_dialog->saveRate(), 1);
        }
    }

    void startAndStop()
    {
        QSignalSpy started(m_dialog.get(), &DataLoggerDialog::dataRecordingStarted);
        QSignalSpy stopped(m_dialog.get(), &DataLoggerDialog::dataRecordingStopped);
        auto *name = w<QLineEdit>("lineEdit_FileName");
        QPushButton *start = button("pushButton_Start"), *stop = button("pushButton_Stop");
        // Stop, progress bar, Save as enabled; name, time, save rate read-only; recording.
        auto state = [&] {
            return QVector<bool>{stop->isEnabled(), w("progressBar")->isEnabled(), button("pushButton_SaveAs")->isEnabled(),
                                 name->isReadOnly(), w<QLineEdit>("lineEdit_RecordTime")->isReadOnly(),
                                 w<QSpinBox>("spinBox_SaveRate")->isReadOnly(), m_dialog->isRecording()};
        };
        const QVector<bool> idle{false, false, true, false, false, false, false}, recording{true, true, false, true, true, true, true};
        QCOMPARE(state(), idle);

        name->setText("run1");
        w<QCheckBox>("checkBox")->setChecked(true);
        QTest::mouseClick(start, Qt::LeftButton);
        const QString path = m_dir.path() + "/Data/run1.csv";
        QCOMPARE(started.size(), 1);
        QCOMPARE(started[0], (QVariantList{path, true}));
        QCOMPARE(name->text(), path);
        QCOMPARE(state(), recording);
        QVERIFY(!start->isEnabled());
        // The window has opened its files: the automatic stop runs a minute.
        m_dialog->startTimerSaving();
        QCOMPARE(m_dialog->stopTimer()->interval, 60000u);
        QVERIFY(m_dialog->stopTimer()->isActive());
        // Hiding the last controller stops the recording and keeps Start off.
        m_dialog->enableStart(false);
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(state(), idle);
        QVERIFY(!start->isEnabled());
        m_dialog->enableStart(true);
        QVERIFY(start->isEnabled());

        QTest::mouseClick(start, Qt::LeftButton);
        QCOMPARE(started.size(), 2);
        m_dialog->enableStart(true); // another controller shown: Start stays off while recording
        QCOMPARE(state(), recording);
        QVERIFY(!start->isEnabled());
        QTest::mouseClick(stop, Qt::LeftButton);
        QCOMPARE(stopped.size(), 2);
        QCOMPARE(state(), idle);
        QVERIFY(start->isEnabled());
    }

    void refusedStarts()
    {
        QSignalSpy started(m_dialog.get(), &DataLoggerDialog::dataRecordingStarted);
        QPushButton *start = button("pushButton_Start");
        QCOMPARE(clickAnswering(start, boxAnswer(QMessageBox::Ok)),
                 QString("Error|File name missing.\n\nPlease enter a name and try it again."));
        QFile existing(m_dir.path() + "/Data/old.csv");
        QVERIFY(existing.open(QIODevice::WriteOnly));
        w<QLineEdit>("lineEdit_FileName")->setText("old");
        QCOMPARE(clickAnswering(start, boxAnswer(QMessageBox::Cancel)),
                 "File exists!|File\n" + existing.fileName() + "\n already exists!\n\nOverwrite the file?");
        QCOMPARE(started.size(), 0);
        QVERIFY(start->isEnabled());
        clickAnswering(start, boxAnswer(QMessageBox::Ok));
        QCOMPARE(started.size(), 1);
    }

    void automaticStop()
    {
        QSignalSpy stopped(m_dialog.get(), &DataLoggerDialog::dataRecordingStopped);
        w<QLineEdit>("lineEdit_FileName")->setText("auto");
        w<QLineEdit>("lineEdit_RecordTime")->setText("000:00:02");
        QTest::mouseClick(button("pushButton_Start"), Qt::LeftButton);
        m_dialog->startTimerSaving();
        QTRY_VERIFY_WITH_TIMEOUT(w<QProgressBar>("progressBar")->value() >= 40, 10000); // refreshed every second
        QVERIFY(stopped.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(stopped.size(), 1, 10000);
        QVERIFY(!m_dialog->isRecording() && button("pushButton_Start")->isEnabled());
    }

    void fileChooser()
    {
        auto *name = w<QLineEdit>("lineEdit_FileName");
        name->setText("something");
        auto choose = [](bool accept) {
            return [accept](QWidget *modal) {
                auto *chooser = qobject_cast<QFileDialog *>(modal);
                QMetaObject::invokeMethod(chooser, accept ? "accept" : "reject");
                return chooser->directory().path();
            };
        };
        QCOMPARE(clickAnswering(button("pushButton_SaveAs"), choose(false)), m_dir.path() + "/Data"); // opens in the data folder
        QCOMPARE(name->text(), QString()); // cancelled: emptied
        clickAnswering(button("pushButton_SaveAs"), choose(true));
        QVERIFY2(QRegularExpression("/Data/Talvix_[-0-9T]+\\.csv$").match(name->text()).hasMatch(), qPrintable(name->text()));
    }

    // Small pieces stand in for the 24.8-day limit of one timer.
    void largeTimerChains()
    {
        LargeTimer once(nullptr, 40);
        once.setSingleShot(true);
        QSignalSpy fired(&once, &LargeTimer::timeout);
        QElapsedTimer clock;
        clock.start();
        once.start(130);
        QCOMPARE(once.chunk, 40u);
        QCOMPARE(once.rest, 90u);
        QVERIFY(once.remainingTime() > 90u && once.remainingTime() <= 130u);
        QTRY_COMPARE_WITH_TIMEOUT(fired.size(), 1, 5000);
        QVERIFY(clock.elapsed() >= 125 && !once.isActive());
        QTest::qWait(200);
        QCOMPARE(fired.size(), 1);

        LargeTimer repeating(nullptr, 25); // each cycle runs the whole interval again
        QSignalSpy cycles(&repeating, &LargeTimer::timeout);
        clock.restart();
        repeating.start(60);
        QTRY_VERIFY_WITH_TIMEOUT(cycles.size() >= 3, 5000);
        QVERIFY(clock.elapsed() >= 175);

        LargeTimer longest(nullptr, DataLoggerDialog::maxTimerChunk); // 999:99:99 fits 32 bits, not one timer
        longest.start(3602439000u);
        QCOMPARE(longest.rest, 3602439000u - 2147483647u);
        QVERIFY(longest.remainingTime() > 3602430000u);
    }
};

QTEST_MAIN(DataLoggerDialogTest)
#include "tst_dataloggerdialog.moc"
