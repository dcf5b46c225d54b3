// What the operator sees at a glance: controllers that go away announced in
// the status bar (and their recording files ended with the reason), new
// controllers in colours of their own with a legend, and range bars that
// show the active controller live or nothing.

#include "display/LiveDisplay.h"
#include "WindowFixture.h"
#include "../recording/RecordTestUtil.h"
#include "controller/ControllerPalette.h"
#include "display/ControllerAlerts.h"
#include "display/ControllerLegend.h"
#include "display/RangeBars.h"
#include "display/StatusBarPanel.h"
#include "display/ThermoSlider.h"
#include "display/WindowStatus.h"
#include "display/RecordingControl.h"
#include "recording/DataLoggerDialog.h"
#include "recording/Recorder.h"

#include <QCheckBox>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>

namespace {
// The status-bar entries announcing controllers, by address.
QHash<QString, QLabel *> alertEntries(const MainWindow *window)
{
    QHash<QString, QLabel *> entries;
    for (QLabel *label : window->statusBar()->findChildren<QLabel *>(QStringLiteral("controllerAlert")))
        if (label->isVisible())
            entries.insert(label->property("address").toString(), label);
    return entries;
}

int lineCount(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : -1;
}

enum class Fault { Silent, LinkClosed, StreamStalled };

struct LossRow
{
    const char *name;
    bool recording;
    Fault fault;
    const char *what; // the entry's text after the controller's name
};

const LossRow lossRows[] = {
    {"idle, stops answering", false, Fault::Silent, ": no reply since "},
    {"idle, link drops", false, Fault::LinkClosed, ": link lost at "},
    {"recording, samples stop", true, Fault::StreamStalled, ": no samples since "},
    {"recording, link drops", true, Fault::LinkClosed, ": link lost at "},
};

SimFaults faultOf(Fault fault)
{
    SimFaults faults;
    if (fault == Fault::Silent)
        faults.dropEvery = 1;
    else if (fault == Fault::LinkClosed)
        faults.closeAfterMs = 1;
    else
        faults.stallStream = true;
    return faults;
}
} // namespace

class TestAwareness : public QObject
{
    Q_OBJECT

private slots:
    void controllerGoingAwayIsAnnounced_data() { addRows(lossRows); }
    // Two controllers; the second goes away. Its entry names it and what
    // happened, its status record carries the text for the overview row; a
    // running recording ends its file with that reason while the other
    // file goes on; when it is back the entry goes.
    void controllerGoingAwayIsAnnounced()
    {
        QFETCH(int, row);
        const LossRow &r = lossRows[row];
        WindowFixture f;
        QVERIFY(f.connect(2));
        QTemporaryDir dir;
        DataLoggerDialog *dialog = f.window->parts().recording->dialog();
        QStringList files;
        if (r.recording) {
            QVERIFY(f.acquire(2, 200));
            f.widget<QAction>("actionRecordingOpen")->trigger();
            child<QLineEdit>(dialog, "lineEdit_FileName")->setText(dir.filePath(QStringLiteral("run.txt")));
            child<QCheckBox>(dialog, "checkBox")->setChecked(true);
            child(dialog, "pushButton_Start")->click();
            QVERIFY(f.window->parts().recording->recorder().isRecording());
            files = f.window->parts().recording->recorder().filePaths();
            QCOMPARE(files.size(), 2);
            QTRY_VERIFY_WITH_TIMEOUT(lineCount(files[1]) > 20, 20000);
        }
        // A quiet start: nothing is announced while both answer.
        QTest::qWait(300);
        QVERIFY(alertEntries(f.window.get()).isEmpty());

        f.sim.setFaults(1, faultOf(r.fault));
        QTRY_VERIFY_WITH_TIMEOUT(alertEntries(f.window.get()).contains(simAddress(1)), 20000);
        QLabel *entry = alertEntries(f.window.get()).value(simAddress(1));
        const QString text = entry->text();
        QVERIFY2(text.startsWith(QStringLiteral("SIM1 (127.0.0.2)") + r.what), qPrintable(text));
        QVERIFY(QTime::fromString(text.right(8), QStringLiteral("HH:mm:ss")).isValid());
        QCOMPARE(entry->accessibleName(), text);
        QCOMPARE(alertEntries(f.window.get()).size(), 1);
        QCOMPARE(f.window->controllerRegistry().controllerStatus.at(1).alert, text);
        QVERIFY(f.window->parts().status->panel()->warningText().endsWith(text));

        if (r.recording) {
            // Its file ended with the reason; the other goes on.
            QTRY_VERIFY_WITH_TIMEOUT(readJson(files[1])["error"].toString() == text, 5000);
            QVERIFY(f.window->parts().recording->recorder().isRecording());
            QVERIFY(dialog->isRecording());
            QCOMPARE(f.window->parts().recording->recorder().filePaths(), QStringList{files[0]});
            QVERIFY2(dialog->notice().contains(text), qPrintable(dialog->notice()));
            const int before = lineCount(files[0]);
            const int stopped = lineCount(files[1]);
            QTRY_VERIFY_WITH_TIMEOUT(lineCount(files[0]) > before + 20, 20000);
            QCOMPARE(lineCount(files[1]), stopped);
        }

        f.sim.setFaults(1, SimFaults());
        if (r.fault == Fault::LinkClosed) {
            QString id;
            QVERIFY(reconnectController(f.window.get(), simAddress(1), id));
        }
        QTRY_VERIFY_WITH_TIMEOUT(alertEntries(f.window.get()).isEmpty(), 20000);
        QVERIFY(f.window->controllerRegistry().controllerStatus.at(1).alert.isEmpty());
        QVERIFY(f.window->parts().status->panel()->warningText().endsWith(QStringLiteral("SIM1 (127.0.0.2): answering again")));
        if (r.recording) {
            child(dialog, "pushButton_Stop")->click();
            QCOMPARE(readJson(files[0])["error"].toString(), QString());
        }
    }

    // A controller the user disconnects is not announced as lost.
    void userDisconnectIsNotAnnounced()
    {
        WindowFixture f;
        QVERIFY(f.connect(2));
        QVERIFY(disconnectController(f.window.get(), simAddress(1)));
        QTest::qWait(2500); // longer than a failed poll takes
        QVERIFY(alertEntries(f.window.get()).isEmpty());
    }

    // Controllers without stored colours each get a colour family of their
    // own; stored colours are kept; the legend lists the displayed ones and
    // can be hidden.
    void newControllersAreToldApart()
    {
        // The palette: the first 30 positions are all different.
        QSet<QRgb> seen;
        for (int n = 0; n < 30; ++n) {
            const ControllerPalette::Traces t = ControllerPalette::at(n);
            for (const QColor &c : {t.x, t.y, t.intensity})
                seen.insert(c.rgb());
        }
        QCOMPARE(seen.size(), 90);

        WindowFixture f;
        QVERIFY(f.start(4));
        for (int i = 0; i < 3; ++i) {
            ConnectionSettings bare = simSettings(i);
            bare.colorX = bare.colorY = bare.colorI = QColor();
            QVERIFY(f.add(i, bare));
        }
        QVERIFY(f.add(3)); // with stored colours
        QSet<QRgb> colours;
        for (int i = 0; i < 3; ++i) {
            const ControllerStatus &s = f.window->controllerRegistry().controllerStatus.at(i);
            colours << s.colorX.rgb() << s.colorY.rgb() << s.colorI.rgb();
        }
        QCOMPARE(colours.size(), 9);
        QCOMPARE(f.window->controllerRegistry().controllerStatus.at(3).colorX.rgb(), simSettings(3).colorX.rgb());
        QVERIFY(!colours.contains(simSettings(3).colorX.rgb()));

        ControllerLegend *legend = f.window->parts().status->legend();
        const QStringList names{"SIM0 (127.0.0.1)", "SIM1 (127.0.0.2)", "SIM2 (127.0.0.3)", "SIM3 (127.0.0.4)"};
        QTRY_COMPARE_WITH_TIMEOUT(legend->names(), names, 5000);
        // A colour changed from the overview reaches the legend.
        f.window->updateColorGraph(simAddress(0), QColor(1, 2, 3), 0);
        QTRY_VERIFY_WITH_TIMEOUT(legend->findChildren<QLabel *>("legendEntry").first()->text().contains("#010203"), 5000);
        f.window->showConnection(simAddress(1), false);
        QTRY_COMPARE_WITH_TIMEOUT(legend->names(), (QStringList{names[0], names[2], names[3]}), 5000);

        QAction *show = f.widget<QAction>("actionShowLegend");
        QToolBar *bar = f.widget<QToolBar>("legendBar");
        QVERIFY(show);
        QVERIFY(bar);
        QVERIFY(show->isChecked());
        QVERIFY(bar->isVisible());
        show->trigger();
        QVERIFY(!bar->isVisible());
        show->trigger();
        QVERIFY(bar->isVisible());
    }

    void rangeBarsShowActiveControllerOrNothing_data()
    {
        QTest::addColumn<int>("controllers");
        QTest::newRow("one") << 1;
        QTest::newRow("three") << 3;
    }
    // The bars show the active controller's newest range values and name
    // it; without acquisition, or when its samples stop, they are greyed
    // and empty.
    void rangeBarsShowActiveControllerOrNothing()
    {
        QFETCH(int, controllers);
        SimConfig config;
        config.bench = true; // sequence number and send time in the range fields: never stale-equal
        WindowFixture f;
        QVERIFY(f.connect(controllers, config));
        ThermoSlider *bars[4] = {f.widget<ThermoSlider>("thermo_x"), f.widget<ThermoSlider>("thermo_y"),
                                 f.widget<ThermoSlider>("thermo_x_2"), f.widget<ThermoSlider>("thermo_y_2")};
        QLabel *caption = f.widget<QLabel>("label_rangeSource");
        QVERIFY(caption);
        auto greyed = [&] {
            for (ThermoSlider *bar : bars)
                if (bar->isEnabled() || bar->value() != bar->lowerBound() || !bar->accessibleName().endsWith("no value"))
                    return false;
            return caption->text().endsWith(QStringLiteral("no value"));
        };
        QVERIFY(greyed());

        const int active = f.window->controllerRegistry().activeIndex;
        QCOMPARE(active, 0);
        // The newest range value of every controller, as the display took it.
        QVector<double> newest(controllers, qQNaN());
        f.window->setSampleObserver([&](int, int c, const StreamSample &s) { newest[c] = s.rangeX1 * 0.001; });
        QList<double> shown;
        bool matches = true;
        f.window->parts().live->setTickObserver([&](qint64, const DisplayTick::Result &result) {
            if (!result.barsValid)
                return;
            matches = matches && bars[0]->isEnabled() && bars[0]->value() == newest[active];
            if (!shown.contains(bars[0]->value()))
                shown << bars[0]->value();
        });
        QVERIFY(f.acquire(controllers, 100));
        QTRY_VERIFY_WITH_TIMEOUT(shown.size() >= 5, 20000); // live: the value moves
        QVERIFY(matches);
        QCOMPARE(caption->text(), QStringLiteral("SIM0 (127.0.0.1)"));
        for (int c = 1; c < controllers; ++c)
            QVERIFY(newest[c] == newest[c]); // the others were taken as well
        f.window->parts().live->setTickObserver(nullptr);

        if (controllers > 1) {
            // The active controller's samples stop: the bars go grey, the others stream on.
            f.sim.setFaults(active, faultOf(Fault::StreamStalled));
            QTRY_VERIFY_WITH_TIMEOUT(greyed(), 20000);
            QVERIFY(caption->text().startsWith(QStringLiteral("SIM0 (127.0.0.1)")));
            f.sim.setFaults(active, SimFaults());
            QTRY_VERIFY_WITH_TIMEOUT(bars[0]->isEnabled(), 20000);
        }
        QVERIFY(f.stop());
        QTRY_VERIFY_WITH_TIMEOUT(greyed(), 5000);
        f.window->setSampleObserver(nullptr);
    }
};

QTEST_MAIN(TestAwareness)
#include "tst_awareness.moc"
