#include "link/StreamPump.h"

#include "link/Connection.h"

#include <algorithm>
#include <atomic>
#include <cerrno>

#include <time.h>

namespace {

std::atomic<bool> pumpEnabled{true};

qint64 monotonicNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void sleepUntilNs(qint64 due)
{
    const timespec t{time_t(due / 1000000000), long(due % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

} // namespace

StreamPump &StreamPump::instance()
{
    // Never destroyed: its thread may still wait for links while the
    // process exits.
    static StreamPump *pump = new StreamPump;
    return *pump;
}

bool StreamPump::enabled()
{
    return pumpEnabled.load(std::memory_order_relaxed);
}

void StreamPump::setEnabled(bool on)
{
    pumpEnabled.store(on, std::memory_order_relaxed);
}

void StreamPump::attach(Connection *link, int intervalMs, unsigned ticket)
{
    std::lock_guard<std::mutex> guard(lock);
    entries.push_back({link, std::max(1, intervalMs), ticket});
    if (!running) {
        running = true;
        std::thread([this] { run(); }).detach();
    }
    linksWaiting.notify_one();
}

void StreamPump::detach(Connection *link)
{
    std::lock_guard<std::mutex> guard(lock);
    entries.erase(std::remove_if(entries.begin(), entries.end(), [link](const Entry &e) { return e.link == link; }),
                  entries.end());
}

void StreamPump::run()
{
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        linksWaiting.wait(guard, [this] { return !entries.empty(); });
        int interval = entries.front().interval;
        for (const Entry &e : entries)
            interval = std::min(interval, e.interval);
        guard.unlock();
        // Whole multiples of the interval on the monotonic clock, the grid
        // the link threads' own batch timers use.
        const qint64 period = qint64(interval) * 1000000;
        sleepUntilNs((monotonicNs() / period + 1) * period);
        guard.lock();
        for (size_t i = 0; i < entries.size();) {
            if (entries[i].link->pumpStream()) {
                ++i;
                continue;
            }
            entries[i].link->handBackFromPump(entries[i].ticket);
            entries.erase(entries.begin() + std::ptrdiff_t(i));
        }
    }
}
