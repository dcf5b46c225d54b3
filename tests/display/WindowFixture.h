#pragma once

// A main window fed by links to controllers of the embedded simulator, the
// way the connection dialog hands them over.

#include "SimulatorLink.h"
#include "controller/Controller.h"

#include "display/LinkedSpinBox.h"
#include "display/CurveData.h"
#include "display/GenericPlot.h"
#include "display/MainToolBar.h"
#include "display/MainWindow.h"
#include "link/Identification.h"
#include "setup/ConnectionSettings.h"
#include "setup/SettingsDialog.h"

#include <QAction>
#include <QTest>
#include <QPushButton>

#include <memory>
#include <optional>

// Controller i of the simulator is reached as 127.0.0.<i + 1>: the window
// tells controllers apart by address (the simulator listens on all).
inline QString simAddress(int i)
{
    return QStringLiteral("127.0.0.%1").arg(i + 1);
}

// The window's host requests answer later, through a callback; a test waits
// for the answer (processing events) for at most 20 s.
inline bool closeController(MainWindow *window, const QString &address)
{
    std::optional<bool> closed;
    window->closedConnection(address, [&](bool ok) { closed = ok; });
    QTest::qWaitFor([&] { return closed.has_value(); }, 20000);
    return closed.value_or(false);
}

inline bool disconnectController(MainWindow *window, const QString &address)
{
    std::optional<bool> gone;
    window->disconnectConnection(address, [&](bool ok) { gone = ok; });
    QTest::qWaitFor([&] { return gone.has_value(); }, 20000);
    return gone.value_or(false);
}

inline bool reconnectController(MainWindow *window, const QString &address, QString &boardID)
{
    std::optional<bool> connected;
    window->reconnectConnection(address, [&](bool ok, QString id) {
        connected = ok;
        boardID = id;
    });
    QTest::qWaitFor([&] { return connected.has_value(); }, 20000);
    return connected.value_or(false);
}

// A distinct, saturated colour triple per controller.
inline ConnectionSettings simSettings(int i)
{
    ConnectionSettings settings;
    settings.type = Tcp;
    settings.name = simAddress(i);
    settings.colorX = QColor::fromHsv((i * 97) % 360, 255, 230);
    settings.colorY = QColor::fromHsv((i * 97 + 40) % 360, 255, 150);
    settings.colorI = QColor::fromHsv((i * 97 + 80) % 360, 255, 200);
    return settings;
}

// Points held by a curve of a plot; -1 when the plot has no such curve.
inline int curveSize(GenericPlot *plot, int curve)
{
    return plot->curveCount() > curve ? int(plot->curveData(curve)->size()) : -1;
}

template<typename T = QPushButton>
T *child(const QObject *parent, const char *name)
{
    return parent ? parent->findChild<T *>(QLatin1String(name)) : nullptr;
}

// A table of named rows as the data rows of a test function, by index:
// QFETCH(int, row) then picks rows[row].
template<typename Row, std::size_t N>
void addRows(const Row (&rows)[N])
{
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < N; ++i)
        QTest::newRow(rows[i].name) << int(i);
}

// A fixture kept for the rows of one test function whose rows set up all
// they judge: connecting controllers takes seconds. Call drop() from
// init() and dropIfFailed() from cleanup(): another function, or the row
// after a failed one, gets a fresh fixture.
template<typename Fixture>
class RowShared
{
public:
    // The kept fixture, or a new one prepared by setUp (null when that
    // failed). Rows of another kind (a different set-up) name it.
    template<typename SetUp>
    Fixture *get(SetUp setUp, const QByteArray &kind = QByteArray())
    {
        const QByteArray key = QTest::currentTestFunction() + ('/' + kind);
        if (fixture && owner == key)
            return fixture.get();
        fixture = std::make_unique<Fixture>();
        owner = key;
        if (!setUp(*fixture))
            fixture.reset();
        return fixture.get();
    }
    void dropIfFailed()
    {
        if (QTest::currentTestFailed())
            fixture.reset();
    }
    void drop()
    {
        if (!owner.startsWith(QTest::currentTestFunction() + QByteArray("/")))
            fixture.reset();
    }

private:
    std::unique_ptr<Fixture> fixture;
    QByteArray owner;
};

struct WindowFixture
{
    Simulator sim;
    std::unique_ptr<MainWindow> window;

    // The window loads its default setup while it is made: on a busy
    // machine a link may need longer than the production waits to connect.
    WindowFixture() { SettingsDialog::setDefaultConnectWaits({5000, 5000, 5000}); }

    // A window going away stops every displayed controller, streaming or
    // not, a second each. Nothing is judged there: without acquisition the
    // controllers leave the display first.
    ~WindowFixture()
    {
        if (!window || !window->isVisible() || startAction()->isChecked())
            return;
        const QList<int> shown = window->controllerRegistry().displayed; // a copy: hiding changes the list
        for (int i : shown)
            window->showConnection(window->controllerRegistry().controllers.at(i)->address(), false);
    }

    // The simulated controllers, then (when asked) a new window shown.
    bool start(int controllers, const SimConfig &config = SimConfig(), bool withWindow = true)
    {
        sim.setDefaultConfig(config);
        const bool started = sim.start(0, controllers, QHostAddress(QHostAddress::AnyIPv4));
        if (started && withWindow)
            openWindow();
        return started;
    }
    void openWindow() { (window = std::make_unique<MainWindow>())->show(); }

    // Hands controller i to the window over a started, connected and
    // (unless told otherwise) identified link; false when it could not connect.
    bool add(int i, ConnectionSettings settings, bool identify = true)
    {
        auto client = std::make_unique<TcpClient>();
        client->initialize(simAddress(i), sim.port(i));
        client->setLabel(QStringLiteral("SIM%1").arg(i));
        client->start();
        if (!waitUntilConnected(*client) || (identify && !identifyController(*client).valid))
            return false;
        window->newConnection(new Controller(std::move(client)), &settings);
        return true;
    }
    bool add(int i) { return add(i, simSettings(i)); }
    // n simulated controllers handed to the window.
    bool connect(int n, const SimConfig &config = SimConfig())
    {
        bool ok = start(n, config);
        for (int i = 0; ok && i < n; ++i)
            ok = add(i);
        return ok;
    }
    // Controller i refuses the commands with these codes from now on.
    void refuse(int i, const QSet<QByteArray> &codes)
    {
        SimFaults faults;
        faults.refuseCodes = codes;
        sim.setFaults(i, faults);
    }

    QAction *startAction() const { return window->findChild<QAction *>(QStringLiteral("actionStart")); }
    // Start from the tool bar (at this sampling rate when one is given);
    // false unless controllers 0 to n - 1 stream within 5 s.
    bool acquire(int n = 1, int rate = 0)
    {
        if (rate > 0)
            counter("counterSamplingRate")->setValue(rate);
        startAction()->trigger();
        return streaming(n, true);
    }
    // Stop from the tool bar; false unless every controller stopped streaming.
    bool stop()
    {
        startAction()->trigger();
        return !startAction()->isChecked() && streaming(sim.count(), false);
    }
    // Whether controllers 0 to n - 1 all reach this streaming state within 5 s.
    bool streaming(int n, bool on)
    {
        for (int i = 0; i < n; ++i)
            if (!QTest::qWaitFor([&] { return sim.isStreaming(i) == on; }, 5000))
                return false;
        return true;
    }
    LinkedSpinBox *counter(const char *name) const { return window->findChild<LinkedSpinBox *>(QLatin1String(name)); }
    template<typename T = QPushButton>
    T *widget(const char *name) const { return child<T>(window.get(), name); }

    // The three-letter codes the controller received, in order.
    QStringList codes(int i) const
    {
        QStringList list;
        for (const QByteArray &command : sim.commandLog(i))
            list << QString::fromLatin1(command.left(3));
        return list;
    }
    // The commands with this code the controller received.
    QList<QByteArray> commands(int i, const char *code) const
    {
        QList<QByteArray> list;
        for (const QByteArray &command : sim.commandLog(i))
            if (command.startsWith(code))
                list << command;
        return list;
    }
};

