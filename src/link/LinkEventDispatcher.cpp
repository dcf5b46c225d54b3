#include "link/LinkEventDispatcher.h"

#include "link/ThreadAnnotations.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

LinkEventDispatcher::LinkEventDispatcher(const void *tag, QObject *parent)
    : QAbstractEventDispatcher(parent), postTag(tag), wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

LinkEventDispatcher::~LinkEventDispatcher()
{
    if (wakeFd >= 0)
        ::close(wakeFd);
}

qint64 LinkEventDispatcher::nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool LinkEventDispatcher::hasPendingEvents()
{
    return false;
}

void LinkEventDispatcher::registerSocketNotifier(QSocketNotifier *notifier)
{
    if (std::find(notifiers.begin(), notifiers.end(), notifier) == notifiers.end())
        notifiers.push_back(notifier);
}

void LinkEventDispatcher::unregisterSocketNotifier(QSocketNotifier *notifier)
{
    notifiers.erase(std::remove(notifiers.begin(), notifiers.end(), notifier), notifiers.end());
}

void LinkEventDispatcher::registerTimer(int timerId, int interval, Qt::TimerType timerType, QObject *object)
{
    timers.push_back({timerId, interval, timerType, object, nowNs() + qint64(interval) * 1000000, false, false, 0});
}

bool LinkEventDispatcher::alignTimer(int timerId, int offsetMs)
{
    const auto it = std::find_if(timers.begin(), timers.end(), [timerId](const Timer &t) { return t.id == timerId; });
    if (it == timers.end() || it->interval <= 0)
        return false;
    const qint64 period = qint64(it->interval) * 1000000;
    it->aligned = true;
    it->offsetNs = (qint64(offsetMs) * 1000000) % period;
    // Never sooner than a whole interval from now, as the timer was started.
    it->dueNs = nextGridPoint(*it, nowNs() + period - 1);
    return true;
}

qint64 LinkEventDispatcher::nextGridPoint(const Timer &t, qint64 after)
{
    const qint64 period = qint64(t.interval) * 1000000;
    return ((after - t.offsetNs) / period + 1) * period + t.offsetNs;
}

bool LinkEventDispatcher::unregisterTimer(int timerId)
{
    const auto it = std::find_if(timers.begin(), timers.end(), [timerId](const Timer &t) { return t.id == timerId; });
    if (it == timers.end())
        return false;
    timers.erase(it);
    return true;
}

bool LinkEventDispatcher::unregisterTimers(QObject *object)
{
    const auto before = timers.size();
    timers.erase(std::remove_if(timers.begin(), timers.end(), [object](const Timer &t) { return t.object == object; }),
                 timers.end());
    return timers.size() != before;
}

QList<QAbstractEventDispatcher::TimerInfo> LinkEventDispatcher::registeredTimers(QObject *object) const
{
    QList<TimerInfo> list;
    for (const Timer &t : timers)
        if (t.object == object)
            list.append(TimerInfo(t.id, t.interval, t.type));
    return list;
}

int LinkEventDispatcher::remainingTime(int timerId)
{
    for (const Timer &t : timers)
        if (t.id == timerId)
            return int(std::max<qint64>(0, (t.dueNs - nowNs() + 999999) / 1000000));
    return -1;
}

void LinkEventDispatcher::wakeUp()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
}

void LinkEventDispatcher::interrupt()
{
    interrupted.store(true, std::memory_order_release);
    wakeUp();
}

qint64 LinkEventDispatcher::pollTimeoutNs(bool mayWait) const
{
    if (!mayWait)
        return 0;
    qint64 nearest = -1;
    for (const Timer &t : timers)
        if (!t.active && (nearest < 0 || t.dueNs < nearest))
            nearest = t.dueNs;
    if (nearest < 0)
        return -1;
    const qint64 left = nearest - nowNs();
    return left <= 0 ? 0 : left;
}

bool LinkEventDispatcher::sendDueTimers()
{
    // Timers may be added, removed or restarted by the events sent here:
    // find each due one anew by id.
    bool sent = false;
    const qint64 now = nowNs();
    // A timer event can wake a nested loop that sends due timers too: take
    // the list over for this call.
    std::vector<int> due;
    due.swap(dueTimers);
    due.clear();
    for (const Timer &t : timers)
        if (!t.active && t.dueNs <= now)
            due.push_back(t.id);
    for (int id : due) {
        auto it = std::find_if(timers.begin(), timers.end(), [id](const Timer &t) { return t.id == id; });
        if (it == timers.end() || it->active)
            continue;
        const qint64 period = qint64(it->interval) * 1000000;
        if (!it->aligned)
            it->dueNs = std::max(it->dueNs + period, now);
        else if (it->dueNs + period > now)
            it->dueNs += period;
        else
            it->dueNs = nextGridPoint(*it, now); // fell behind
        it->active = true;
        QObject *object = it->object;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(object, &event);
        sent = true;
        it = std::find_if(timers.begin(), timers.end(), [id](const Timer &t) { return t.id == id; });
        if (it != timers.end())
            it->active = false;
    }
    if (dueTimers.capacity() < due.capacity())
        dueTimers.swap(due);
    return sent;
}

bool LinkEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    interrupted.store(false, std::memory_order_release);
    emit awake();
    // The toolkit's event queue is guarded by a lock the sanitizer cannot
    // see; the owner posts under postTag's annotations, taken here too.
    annotateAcquire(postTag);
    QCoreApplication::sendPostedEvents();
    annotateRelease(postTag);
    if (interrupted.load(std::memory_order_acquire))
        return false;

    const bool withSockets = !(flags & QEventLoop::ExcludeSocketNotifiers);
    // A nested loop (a notifier's handler may run one) fills its own lists.
    std::vector<pollfd> fds;
    fds.swap(pollFds);
    fds.clear();
    fds.push_back({wakeFd, POLLIN, 0});
    std::vector<QSocketNotifier *> watchedNow;
    watchedNow.swap(watched);
    watchedNow.clear();
    if (withSockets) {
        watchedNow.insert(watchedNow.end(), notifiers.begin(), notifiers.end());
        for (QSocketNotifier *n : watchedNow) {
            const short events = n->type() == QSocketNotifier::Read    ? short(POLLIN)
                                 : n->type() == QSocketNotifier::Write ? short(POLLOUT)
                                                                       : short(POLLPRI);
            fds.push_back({int(n->socket()), events, 0});
        }
    }
    const bool mayWait = (flags & QEventLoop::WaitForMoreEvents) != 0;
    const qint64 timeoutNs = pollTimeoutNs(mayWait);
    if (timeoutNs != 0)
        emit aboutToBlock();
    // To the nanosecond: a timer of a few ms must not sleep a whole
    // millisecond more.
    timespec timeout{timeoutNs / 1000000000, long(timeoutNs % 1000000000)};
    const int ready = ::ppoll(fds.data(), nfds_t(fds.size()), timeoutNs < 0 ? nullptr : &timeout, nullptr);
    if (ready < 0 && errno != EINTR)
        qWarning("LinkEventDispatcher: poll failed");
    bool handled = false;
    if (ready > 0) {
        if (fds[0].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd, &count, sizeof count);
            handled = true;
        }
        for (size_t i = 0; i < watchedNow.size(); ++i) {
            // As the toolkit's own dispatchers do: a hang-up or an error
            // wakes the read side, an error the write side.
            const short revents = fds[i + 1].revents;
            const QSocketNotifier::Type type = watchedNow[i]->type();
            const bool fire = type == QSocketNotifier::Read    ? (revents & (POLLIN | POLLHUP | POLLERR)) != 0
                              : type == QSocketNotifier::Write ? (revents & (POLLOUT | POLLERR)) != 0
                                                               : (revents & POLLPRI) != 0;
            if (!fire)
                continue;
            // Still registered (an earlier event may have disabled or deleted it)?
            if (std::find(notifiers.begin(), notifiers.end(), watchedNow[i]) == notifiers.end())
                continue;
            QEvent event(QEvent::SockAct);
            QCoreApplication::sendEvent(watchedNow[i], &event);
            handled = true;
        }
    }
    pollFds.swap(fds);
    watched.swap(watchedNow);
    if (sendDueTimers())
        handled = true;
    return handled;
}
