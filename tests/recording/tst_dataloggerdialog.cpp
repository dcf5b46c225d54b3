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
private slots:
    void initTestCase();
    void estimate_data();
    void estimate();
    void startAndStop();
    void refusedStarts();
    void automaticStop();
    void fileChooser();
    void largeTimerChains();

private:
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
    void init()
    {
        m_dialog = std::make_unique<DataLoggerDialog>();
        m_dialog->show();
    }
};

void DataLoggerDialogTest::initTestCase()
{
    dataDirectory = QDir(m_dir.path());
    QVERIFY(dataDirectory.mkpath("Data"));
}

void DataLoggerDialogTest::estimate_data()
{
    QTest::addColumn<int>("samplingRate");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("blocks");
    QTest::addColumn<QString>("megabytes");
    QTest::addColumn<bool>("warning");
    QTest::addColumn<bool>("rateEditable");
    QTest::newRow("a minute at 100 Hz") << 100 << "000:01:00" << "6000" << "0.4" << false << true;
    QTest::newRow("longest, trigger mode") << 1000 << "999:99:99" << "3602439000" << "223311.0" << true << false;
    QTest::newRow("just below 2 GiB") << 500 << "018:21:00" << "33030000" << "2047.5" << false << true;
    QTest::newRow("just above 2 GiB") << 500 << "018:21:30" << "33045000" << "2048.4" << true << true;
}

void DataLoggerDialogTest::estimate()
{
    QFETCH(int, samplingRate);
    QFETCH(QString, time);
    QFETCH(QString, blocks);
    QFETCH(QString, megabytes);
    QFETCH(bool, warning);
    QFETCH(bool, rateEditable);
    auto *rate = w<QSpinBox>("spinBox_SaveRate");
    m_dialog->applySamplingRate(5); // the bound follows the sampling rate up again
    m_dialog->applySamplingRate(samplingRate);
    w<QLineEdit>("lineEdit_RecordTime")->setText(time);
    QCOMPARE(m_dialog->saveRate(), samplingRate);
    QCOMPARE(rate->isEnabled(), rateEditable);
    QCOMPARE(rate->text().isEmpty(), !rateEditable); // trigger mode: emptied, every sample saved
    QCOMPARE(w<QLineEdit>("lineEdit_DataBlocks")->text(), blocks);
    QCOMPARE(w<QLineEdit>("lineEdit_FileSize")->text(), megabytes);
    QCOMPARE(w<QLabel>("lblWarningLargeFile")->isVisible(), warning);
    if (rateEditable) {
        QCOMPARE(rate->maximum(), samplingRate);
        rate->setValue(1);
        QCOMPARE(m_dialog->saveRate(), 1);
    }
}

void DataLoggerDialogTest::startAndStop()
{
    QCOMPARE(m_dialog->size(), QSize(512, 244));
    QSignalSpy started(m_dialog.get(), &DataLoggerDialog::dataRecordingStarted);
    QSignalSpy stopped(m_dialog.get(), &DataLoggerDialog::dataRecordingStopped);
    auto *name = w<QLineEdit>("lineEdit_FileName");
    QPushButton *start = button("pushButton_Start"), *stop = button("pushButton_Stop");
    auto idle = [&] {
        return !stop->isEnabled() && !w("progressBar")->isEnabled() && button("pushButton_SaveAs")->isEnabled()
            && !name->isReadOnly() && !w<QLineEdit>("lineEdit_RecordTime")->isReadOnly()
            && !w<QSpinBox>("spinBox_SaveRate")->isReadOnly() && !m_dialog->isRecording();
    };
    auto recording = [&] {
        return !start->isEnabled() && stop->isEnabled() && w("progressBar")->isEnabled()
            && !button("pushButton_SaveAs")->isEnabled() && name->isReadOnly()
            && w<QLineEdit>("lineEdit_RecordTime")->isReadOnly() && w<QSpinBox>("spinBox_SaveRate")->isReadOnly();
    };
    QVERIFY(idle());

    name->setText("run1");
    w<QCheckBox>("checkBox")->setChecked(true);
    QTest::mouseClick(start, Qt::LeftButton);
    const QString path = m_dir.path() + "/Data/run1.csv";
    QCOMPARE(started.size(), 1);
    QCOMPARE(started[0], (QVariantList{path, true}));
    QCOMPARE(name->text(), path);
    QVERIFY(recording());
    // The window has opened its files: the automatic stop runs a minute.
    m_dialog->startTimerSaving();
    QCOMPARE(m_dialog->stopTimer()->interval, 60000u);
    QVERIFY(m_dialog->stopTimer()->isActive());
    // Hiding the last controller stops the recording and keeps Start off.
    m_dialog->enableStart(false);
    QCOMPARE(stopped.size(), 1);
    QVERIFY(idle() && !start->isEnabled());
    m_dialog->enableStart(true);
    QVERIFY(start->isEnabled());

    name->setText("run2.txt");
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(started.last()[0].toString(), m_dir.path() + "/Data/run2.txt");
    m_dialog->enableStart(true); // another controller shown: Start stays off while recording
    QVERIFY(recording());
    QTest::mouseClick(stop, Qt::LeftButton);
    QCOMPARE(stopped.size(), 2);
    QVERIFY(idle() && start->isEnabled());
}

void DataLoggerDialogTest::refusedStarts()
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

void DataLoggerDialogTest::automaticStop()
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

void DataLoggerDialogTest::fileChooser()
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
void DataLoggerDialogTest::largeTimerChains()
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

QTEST_MAIN(DataLoggerDialogTest)
#include "tst_dataloggerdialog.moc"
