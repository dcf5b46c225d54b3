// The recording dialog driven through its widgets, and the LargeTimer that
// runs its automatic stop.

#include "app/StartupFlags.h"
#include "recording/DataLoggerDialog.h"
#include "recording/LargeTimer.h"

#include <QCheckBox>
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
    // answer; returns what answer returns ("title|text" of a message box).
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

    void estimate()
    {
        // Sampling rate; record time, data blocks, megabytes; large-file warning; save rate editable.
        const struct { int rate; QStringList texts; bool warning, editable; } rows[] = {
            {100, {"000:01:00", "6000", "0.4"}, false, true}, // a minute at 100 Hz
            {1000, {"999:99:99", "3602439000", "223311.0"}, true, false}, // longest, trigger mode
            {500, {"018:21:00", "33030000", "2047.5"}, false, true}, {500, {"018:21:30", "33045000", "2048.4"}, true, true}};
        auto *rate = w<QSpinBox>("spinBox_SaveRate");
        for (const auto &r : rows) {
            m_dialog->applySamplingRate(5); // the bound follows the sampling rate up again
            m_dialog->applySamplingRate(r.rate);
            w<QLineEdit>("lineEdit_RecordTime")->setText(r.texts[0]);
            QCOMPARE(m_dialog->saveRate(), r.rate);
            // Trigger mode: emptied, every sample saved.
            QCOMPARE(QVector<bool>({rate->isEnabled(), rate->text().isEmpty()}), QVector<bool>({r.editable, !r.editable}));
            QCOMPARE(QStringList({r.texts[0], w<QLineEdit>("lineEdit_DataBlocks")->text(), w<QLineEdit>("lineEdit_FileSize")->text()}), r.texts);
            QCOMPARE(w<QLabel>("lblWarningLargeFile")->isVisible(), r.warning);
            if (r.editable) {
                QCOMPARE(rate->maximum(), r.rate);
                rate->setValue(1);
                QCOMPARE(m_dialog->saveRate(), 1);
            }
        }
    }

    void startAndStop()
    {
        QSignalSpy started(m_dialog.get(), &DataLoggerDialog::dataRecordingStarted);
        QSignalSpy stopped(m_dialog.get(), &DataLoggerDialog::dataRecordingStopped);
        auto *name = w<QLineEdit>("lineEdit_FileName");
        QPushButton *start = button("pushButton_Start"), *stop = button("pushButton_Stop");
        // Start, Stop enabled; name, time, save rate read-only; recording; signals started and stopped.
        auto state = [&] {
            return QVector<int>{start->isEnabled(), stop->isEnabled(), name->isReadOnly(), w<QLineEdit>("lineEdit_RecordTime")->isReadOnly(),
                                w<QSpinBox>("spinBox_SaveRate")->isReadOnly(), m_dialog->isRecording(), started.size(), stopped.size()};
        };
        QCOMPARE(state(), QVector<int>({1, 0, 0, 0, 0, 0, 0, 0}));
        name->setText("run1");
        w<QCheckBox>("checkBox")->setChecked(true);
        QTest::mouseClick(start, Qt::LeftButton);
        const QString path = m_dir.path() + "/Data/run1.csv";
        QCOMPARE(state(), QVector<int>({0, 1, 1, 1, 1, 1, 1, 0}));
        QCOMPARE(started[0], (QVariantList{path, true}));
        QCOMPARE(name->text(), path);
        // The window has opened its files: the automatic stop runs a minute.
        m_dialog->startTimerSaving();
        QVERIFY(m_dialog->stopTimer()->interval == 60000u);
        QVERIFY(m_dialog->stopTimer()->isActive());
        // Hiding the last controller stops the recording and keeps Start off.
        m_dialog->enableStart(false);
        QCOMPARE(state(), QVector<int>({0, 0, 0, 0, 0, 0, 1, 1}));
        m_dialog->enableStart(true);
        QTest::mouseClick(start, Qt::LeftButton);
        m_dialog->enableStart(true); // another controller shown: Start stays off while recording
        QCOMPARE(state(), QVector<int>({0, 1, 1, 1, 1, 1, 2, 1}));
        QTest::mouseClick(stop, Qt::LeftButton);
        QCOMPARE(state(), QVector<int>({1, 0, 0, 0, 0, 0, 2, 2}));
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
        QVERIFY(started.isEmpty());
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
        QVERIFY(!m_dialog->isRecording());
        QVERIFY(button("pushButton_Start")->isEnabled());
    }

    // Small pieces stand in for the 24.8-day limit of one timer.
    void largeTimerChains()
    {
        LargeTimer once(nullptr, 40), repeating(nullptr, 25), longest(nullptr, DataLoggerDialog::maxTimerChunk);
        once.setSingleShot(true);
        QSignalSpy fired(&once, &LargeTimer::timeout), cycles(&repeating, &LargeTimer::timeout);
        QElapsedTimer clock;
        clock.start();
        once.start(130);
        QVERIFY(once.chunk == 40u);
        QVERIFY(once.rest == 90u);
        QVERIFY(once.remainingTime() > 90u);
        QVERIFY(once.remainingTime() <= 130u);
        QTRY_COMPARE_WITH_TIMEOUT(fired.size(), 1, 5000);
        QVERIFY(clock.elapsed() >= 125);
        QVERIFY(!once.isActive());
        QTest::qWait(200);
        QCOMPARE(fired.size(), 1);
        clock.restart();
        repeating.start(60); // each cycle runs the whole interval again
        QTRY_VERIFY_WITH_TIMEOUT(cycles.size() >= 3, 5000);
        QVERIFY(clock.elapsed() >= 175);
        longest.start(3602439000u); // 999:99:99 fits 32 bits, not one timer
        QVERIFY(longest.rest == 3602439000u - 2147483647u);
        QVERIFY(longest.remainingTime() > 3602430000u);
    }
};

QTEST_MAIN(DataLoggerDialogTest)
#include "tst_dataloggerdialog.moc"
