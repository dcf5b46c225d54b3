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
    void samplingRateHandOver();
    void fileChooser();
    void largeTimerChains();

private:
    template<typename T>
    T *widget(DataLoggerDialog &dialog, const char *name)
    {
        T *w = dialog.findChild<T *>(name);
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    // Runs f while a timer answers the first message box that opens.
    QString withBox(QMessageBox::StandardButton answer, const std::function<void()> &f)
    {
        QString seen;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                seen = box->windowTitle() + '|' + box->text();
                box->button(answer)->click();
            }
        });
        poll.start();
        f();
        return seen;
    }

    QTemporaryDir m_dir;
};

void DataLoggerDialogTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    dataDirectory = QDir(m_dir.path());
    QVERIFY(dataDirectory.mkpath("Data"));
}

void DataLoggerDialogTest::estimate_data()
{
    QTest::addColumn<int>("saveRate");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("blocks");
    QTest::addColumn<QString>("megabytes");
    QTest::addColumn<bool>("warning");
    QTest::newRow("a minute at 100 Hz") << 100 << "000:01:00" << "6000" << "0.4" << false;
    QTest::newRow("the longest at 1000 Hz") << 1000 << "999:99:99" << "3602439000" << "223311.0" << true;
    QTest::newRow("just below 2 GiB") << 500 << "018:21:00" << "33030000" << "2047.5" << false;
    QTest::newRow("just above 2 GiB") << 500 << "018:21:30" << "33045000" << "2048.4" << true;
}

void DataLoggerDialogTest::estimate()
{
    QFETCH(int, saveRate);
    QFETCH(QString, time);
    QFETCH(QString, blocks);
    QFETCH(QString, megabytes);
    QFETCH(bool, warning);
    DataLoggerDialog dialog;
    dialog.show();
    dialog.applySamplingRate(1000);
    dialog.applySamplingRate(saveRate); // a value at most 500 stays selectable
    auto *spin = widget<QSpinBox>(dialog, "spinBox_SaveRate");
    if (saveRate <= 500)
        spin->setValue(saveRate);
    widget<QLineEdit>(dialog, "lineEdit_RecordTime")->setText(time);
    QCOMPARE(dialog.saveRate(), saveRate);
    QCOMPARE(widget<QLineEdit>(dialog, "lineEdit_DataBlocks")->text(), blocks);
    QCOMPARE(widget<QLineEdit>(dialog, "lineEdit_FileSize")->text(), megabytes);
    QCOMPARE(widget<QLabel>(dialog, "lblWarningLargeFile")->isVisible(), warning);
}

void DataLoggerDialogTest::startAndStop()
{
    DataLoggerDialog dialog;
    dialog.show();
    QCOMPARE(dialog.size(), QSize(512, 244));
    QCOMPARE(dialog.windowTitle(), QString("Data recording"));
    QSignalSpy started(&dialog, &DataLoggerDialog::dataRecordingStarted);
    QSignalSpy stopped(&dialog, &DataLoggerDialog::dataRecordingStopped);
    auto *name = widget<QLineEdit>(dialog, "lineEdit_FileName");
    auto *start = widget<QPushButton>(dialog, "pushButton_Start");
    auto *stop = widget<QPushButton>(dialog, "pushButton_Stop");
    auto *progress = widget<QProgressBar>(dialog, "progressBar");
    QVERIFY(!stop->isEnabled() && !progress->isEnabled());

    name->setText("run1");
    widget<QCheckBox>(dialog, "checkBox")->setChecked(true);
    QTest::mouseClick(start, Qt::LeftButton);
    const QString path = m_dir.path() + "/Data/run1.csv";
    QCOMPARE(started.size(), 1);
    QCOMPARE(started[0][0].toString(), path);
    QCOMPARE(started[0][1].toBool(), true);
    QCOMPARE(name->text(), path);
    QVERIFY(name->isReadOnly() && widget<QLineEdit>(dialog, "lineEdit_RecordTime")->isReadOnly());
    QVERIFY(widget<QSpinBox>(dialog, "spinBox_SaveRate")->isReadOnly());
    QVERIFY(!start->isEnabled() && stop->isEnabled() && progress->isEnabled());
    QVERIFY(!widget<QPushButton>(dialog, "pushButton_SaveAs")->isEnabled());
    QVERIFY(dialog.isRecording());

    // The window has opened its files: the automatic stop runs a minute.
    dialog.startTimerSaving();
    QCOMPARE(dialog.stopTimer()->interval, 60000u);
    QVERIFY(dialog.stopTimer()->isActive());

    // Hiding the last controller stops the recording and keeps Start off.
    dialog.enableStart(false);
    QCOMPARE(stopped.size(), 1);
    QVERIFY(!dialog.isRecording() && !start->isEnabled() && !stop->isEnabled());
    QVERIFY(!name->isReadOnly());
    dialog.enableStart(true);
    QVERIFY(start->isEnabled());

    // "Stop" ends a recording started with a name typed with its extension.
    name->setText("run2.txt");
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(started.last()[0].toString(), m_dir.path() + "/Data/run2.txt");
    dialog.enableStart(true); // a controller more is shown: still recording, Start stays off
    QVERIFY(!start->isEnabled());
    QTest::mouseClick(stop, Qt::LeftButton);
    QCOMPARE(stopped.size(), 2);
    QVERIFY(start->isEnabled() && !progress->isEnabled());
}

void DataLoggerDialogTest::refusedStarts()
{
    DataLoggerDialog dialog;
    dialog.show();
    QSignalSpy started(&dialog, &DataLoggerDialog::dataRecordingStarted);
    auto *start = widget<QPushButton>(dialog, "pushButton_Start");
    QString seen = withBox(QMessageBox::Ok, [&] { QTest::mouseClick(start, Qt::LeftButton); });
    QCOMPARE(seen, QString("Error|File name missing.\n\nPlease enter a name and try it again."));
    QCOMPARE(started.size(), 0);

    QFile existing(m_dir.path() + "/Data/old.csv");
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();
    widget<QLineEdit>(dialog, "lineEdit_FileName")->setText("old");
    seen = withBox(QMessageBox::Cancel, [&] { QTest::mouseClick(start, Qt::LeftButton); });
    QCOMPARE(seen, "File exists!|File\n" + existing.fileName() + "\n already exists!\n\nOverwrite the file?");
    QCOMPARE(started.size(), 0);
    QVERIFY(start->isEnabled());
    seen = withBox(QMessageBox::Ok, [&] { QTest::mouseClick(start, Qt::LeftButton); });
    QCOMPARE(started.size(), 1);
}

void DataLoggerDialogTest::automaticStop()
{
    DataLoggerDialog dialog;
    dialog.show();
    QSignalSpy stopped(&dialog, &DataLoggerDialog::dataRecordingStopped);
    widget<QLineEdit>(dialog, "lineEdit_FileName")->setText("auto");
    widget<QLineEdit>(dialog, "lineEdit_RecordTime")->setText("000:00:02");
    QTest::mouseClick(widget<QPushButton>(dialog, "pushButton_Start"), Qt::LeftButton);
    dialog.startTimerSaving();
    auto *progress = widget<QProgressBar>(dialog, "progressBar");
    QTRY_VERIFY_WITH_TIMEOUT(progress->value() >= 40, 10000); // refreshed every second
    QVERIFY(stopped.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(stopped.size(), 1, 10000);
    QVERIFY(!dialog.isRecording());
    QVERIFY(widget<QPushButton>(dialog, "pushButton_Start")->isEnabled());
}

void DataLoggerDialogTest::samplingRateHandOver()
{
    DataLoggerDialog dialog;
    auto *spin = widget<QSpinBox>(dialog, "spinBox_SaveRate");
    dialog.applySamplingRate(250);
    QCOMPARE(spin->maximum(), 250);
    QCOMPARE(spin->value(), 250);
    spin->setValue(50);
    QCOMPARE(dialog.saveRate(), 50);
    dialog.applySamplingRate(1000); // trigger mode: every sample is saved
    QVERIFY(!spin->isEnabled());
    QCOMPARE(spin->text(), QString());
    QCOMPARE(dialog.saveRate(), 1000);
    dialog.applySamplingRate(500);
    QVERIFY(spin->isEnabled());
    QCOMPARE(spin->value(), 500);
}

void DataLoggerDialogTest::fileChooser()
{
    DataLoggerDialog dialog;
    dialog.show();
    auto *name = widget<QLineEdit>(dialog, "lineEdit_FileName");
    name->setText("something");
    auto choose = [&](bool accept) {
        QString seen;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            if (auto *chooser = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                seen = chooser->windowTitle() + '|' + chooser->directory().path() + '|'
                    + chooser->labelText(QFileDialog::Accept) + '|' + chooser->nameFilters().join(',');
                QMetaObject::invokeMethod(chooser, accept ? "accept" : "reject");
            }
        });
        poll.start();
        QTest::mouseClick(widget<QPushButton>(dialog, "pushButton_SaveAs"), Qt::LeftButton);
        return seen;
    };
    QCOMPARE(choose(false), "Save data to file|" + m_dir.path() + "/Data|Select|*.csv,*.txt,*.xls,*.*");
    QCOMPARE(name->text(), QString()); // cancelled: emptied
    choose(true);
    QVERIFY2(QRegularExpression("/Data/Talvix_[-0-9T]+\\.csv$").match(name->text()).hasMatch(), qPrintable(name->text()));
}

// Small pieces stand in for the 24.8-day limit of one timer.
void DataLoggerDialogTest::largeTimerChains()
{
    LargeTimer timer(nullptr, 40);
    timer.setSingleShot(true);
    QSignalSpy fired(&timer, &LargeTimer::timeout);
    QElapsedTimer clock;
    clock.start();
    timer.start(130);
    QCOMPARE(timer.chunk, 40u);
    QCOMPARE(timer.rest, 90u);
    QVERIFY(timer.remainingTime() > 90u && timer.remainingTime() <= 130u);
    QTRY_COMPARE_WITH_TIMEOUT(fired.size(), 1, 5000);
    QVERIFY(clock.elapsed() >= 125);
    QVERIFY(!timer.isActive());
    QTest::qWait(200);
    QCOMPARE(fired.size(), 1); // single shot

    // Repeating: each cycle runs the whole interval again.
    LargeTimer repeating(nullptr, 25);
    QSignalSpy cycles(&repeating, &LargeTimer::timeout);
    clock.restart();
    repeating.start(60);
    QTRY_VERIFY_WITH_TIMEOUT(cycles.size() >= 3, 5000);
    QVERIFY(clock.elapsed() >= 175);
    repeating.stop();

    // The dialog's longest stop time does not fit one timer but fits 32 bits.
    LargeTimer longest(nullptr, DataLoggerDialog::maxTimerChunk);
    longest.start(3602439000u);
    QCOMPARE(longest.chunk, 2147483647u);
    QCOMPARE(longest.rest, 3602439000u - 2147483647u);
    QVERIFY(longest.remainingTime() > 3602430000u);
}

QTEST_MAIN(DataLoggerDialogTest)
#include "tst_dataloggerdialog.moc"
