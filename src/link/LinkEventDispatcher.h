#pragma once

#include <QAbstractEventDispatcher>

#include <atomic>
#include <vector>

#include <poll.h>

class QSocketNotifier;

// Event dispatcher of a link thread: poll() over a wake-up eventfd and the
// few descriptors the link watches (its socket or serial port), timers
// kept in a short list, posted events sent as the toolkit's own
// dispatchers do. It does far less per wake-up than the general-purpose
// dispatcher, which matters when a link wakes hundreds of times a second
// for stream data, fifty links at once.
class LinkEventDispatcher : public QAbstractEventDispatcher
{
    Q_OBJECT
public:
    // postTag names, for ThreadSanitizer only, the lock under which the
    // owner posts its events (see processEvents).
    explicit LinkEventDispatcher(const void *postTag = nullptr, QObject *parent = nullptr);
    ~LinkEventDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    bool hasPendingEvents() override;
    void registerSocketNotifier(QSocketNotifier *notifier) override;
    void unregisterSocketNotifier(QSocketNotifier *notifier) override;
    void registerTimer(int timerId, int interval, Qt::TimerType timerType, QObject *object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject *object) override;
    QList<TimerInfo> registeredTimers(QObject *object) const override;
    int remainingTime(int timerId) override;
    void wakeUp() override;
    void interrupt() override;
    void flush() override {}

    // Moves a running timer onto a grid of its interval on the monotonic
    // clock (due at whole multiples of it, shifted by offsetMs) and keeps
    // it there. Link threads whose timers share a grid wake at the same
    // instants, which costs the machine far less than as many wake-ups
    // spread over the interval. The first firing comes on the first grid
    // point at least one interval from now. Returns false for an unknown
    // timer or a zero interval.
    bool alignTimer(int timerId, int offsetMs = 0);

private:
    struct Timer
    {
        int id;
        int interval; // ms
        Qt::TimerType type;
        QObject *object;
        qint64 dueNs;
        bool active; // its event is being delivered (no nested firing)
        bool aligned; // on the grid of its interval (alignTimer)
        qint64 offsetNs; // of that grid
    };
    static qint64 nowNs();
    static qint64 nextGridPoint(const Timer &t, qint64 after);
    bool sendDueTimers();
    // Nanoseconds until the nearest timer is due; -1 without one.
    qint64 pollTimeoutNs(bool mayWait) const;

    const void *postTag;
    int wakeFd = -1;
    std::atomic<bool> interrupted{false};
    std::vector<QSocketNotifier *> notifiers;
    std::vector<Timer> timers;
    // Reused on every wake-up (no allocation per wake-up).
    std::vector<pollfd> pollFds;
    std::vector<QSocketNotifier *> watched;
    std::vector<int> dueTimers;
};
