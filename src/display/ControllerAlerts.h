#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

class Controller;
class ControllerRegistry;
class QLabel;
class QStatusBar;

// Notices that a controller went away and says so where the operator looks:
// one coloured, persistent status-bar entry per controller that stopped
// answering, naming its label and what happened, until it is back.
//
// "Stopped answering" is an idle controller whose status poll failed, or a
// streaming controller whose samples stopped arriving; "link lost" is its
// link reporting that the other side went away. A controller the user
// disconnects or removes is not announced. Everything runs on the
// user-interface thread: the controller's signals arrive queued.
class ControllerAlerts : public QObject
{
    Q_OBJECT
public:
    enum class Kind { None, NoReply, NoSamples, LinkLost };

    // bar: the window's status bar, which takes the entries.
    ControllerAlerts(ControllerRegistry &registry, QStatusBar *bar, QObject *parent = nullptr);

    // Follows the status polls and the link of a newly added controller.
    void watch(Controller *controller);
    // The user ends this controller's link: its loss is expected. It is
    // announced again once it has answered after a reconnection.
    void expectDisconnect(const Controller *controller);
    // The controller is being removed: its entry goes, nothing more is said.
    void forget(const Controller *controller);

    // Once per display tick. taken: samples taken from each displayed
    // controller in this tick (display order), or null when acquisition does
    // not run; a streaming controller that gave none for longer than
    // stallMs(rate) is announced.
    void afterTick(const QVector<int> *taken);

    // No samples for this long from a streaming controller at this rate
    // means it stopped answering.
    static int stallMs(int rate);

    Kind kind(const Controller *controller) const;
    QString text(const Controller *controller) const;
    // The controller's name as the entries show it: label (address).
    static QString nameOf(const QString &label, const QString &address);

signals:
    // A controller went away; text is what its entry shows.
    void raised(Controller *controller, const QString &text);
    // It is back (answered or sent samples again).
    void cleared(Controller *controller, const QString &text);

private:
    struct State
    {
        Kind kind = Kind::None;
        qint64 lastHeardMs = 0;    // last answer or sample (ms since the epoch)
        qint64 streamSeenMs = 0;   // since when it streams without pause; 0: not streaming
        bool userEnded = false;
        QLabel *entry = nullptr;
        QString text;
    };

    void heard(Controller *controller);
    void pollFailed(Controller *controller);
    void linkLost(Controller *controller);
    void raise(Controller *controller, State &state, Kind kind, qint64 atMs);
    void clear(Controller *controller, State &state);
    QString describe(const Controller *controller, Kind kind, qint64 atMs) const;

    ControllerRegistry &registry;
    QStatusBar *statusBar;
    QHash<const Controller *, State> states;
};
