#include "link/StreamPump.h"

#include "link/Connection.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<bool> pumpEnabled{true};
std::atomic<bool> ringEnabled{true};

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

bool StreamPump::ringReads()
{
    return ringEnabled.load(std::memory_order_relaxed);
}

void StreamPump::setRingReads(bool on)
{
    ringEnabled.store(on, std::memory_order_relaxed);
}

void StreamPump::attach(Connection *link, int intervalMs, unsigned ticket)
{
    std::lock_guard<std::mutex> guard(lock);
    entries.push_back({link, std::max(1, intervalMs), ticket});
    ++attaches;
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
        // Whole multiples of the shortest interval of the links on the
        // monotonic clock, the grid the link threads' own batch timers use.
        // A link attaching meanwhile may bring a shorter interval, and so an
        // earlier pass, never a later one.
        using Clock = std::chrono::steady_clock;
        Clock::time_point due = Clock::time_point::max();
        for (;;) {
            const unsigned seen = attaches;
            int interval = entries.empty() ? 1000 : entries.front().interval;
            for (const Entry &e : entries)
                interval = std::min(interval, e.interval);
            const auto period = std::chrono::milliseconds(interval);
            due = std::min(due, Clock::time_point((Clock::now().time_since_epoch() / period + 1) * period));
            if (!linksWaiting.wait_until(guard, due, [&] { return attaches != seen; }))
                break;
        }
        pass();
    }
}

void StreamPump::pass()
{
    received.assign(entries.size(), Connection::notRead);
    if (ringReads())
        receiveFromSockets();
    size_t kept = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].link->pumpStream(received[i]))
            entries[kept++] = entries[i];
        else
            entries[i].link->handBackFromPump(entries[i].ticket);
    }
    entries.resize(kept);
}

void StreamPump::receiveFromSockets()
{
    if (!ringTried) {
        ringTried = true;
        ring.open(256);
    }
    if (!ring.isOpen())
        return;
    auto submit = [this] {
        if (ring.submit(results)) {
            for (const RingReader::Result &r : results)
                received[r.tag] = r.value;
        }
    };
    for (size_t i = 0; i < entries.size(); ++i) {
        const int fd = entries[i].link->pumpSocket();
        if (fd < 0)
            continue;
        char *area = entries[i].link->pumpReadArea();
        if (!ring.queue(fd, area, Connection::batchReadSize, i)) {
            submit();
            ring.queue(fd, area, Connection::batchReadSize, i);
        }
    }
    submit();
}
