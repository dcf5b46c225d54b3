#include "link/RingReader.h"

#include <liburing.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

RingReader::RingReader() = default;

RingReader::~RingReader()
{
    close();
}

bool RingReader::open(unsigned entries)
{
    close();
    auto created = std::make_unique<io_uring>();
    if (io_uring_queue_init(entries, created.get(), 0) < 0)
        return false;
    ring = std::move(created);
    sqEntries = ring->sq.ring_entries;

    // A receive from a socket with nothing waiting must complete at once
    // with -EAGAIN, and one with bytes waiting with the bytes.
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
        close();
        return false;
    }
    char probe[4];
    std::vector<Result> results;
    // The first probe does not wait: a kernel that leaves the receive
    // waiting for bytes is refused, and the receive released by shutting
    // the pair down before the ring goes.
    const bool empty = queue(pair[0], probe, sizeof probe, 0) && enter(results, false) && results.size() == 1
                       && results[0].value == -EAGAIN;
    if (ring && inFlight > 0) {
        ::shutdown(pair[1], SHUT_RDWR);
        submit(results);
    }
    const bool filled = empty && ::write(pair[1], "ok", 2) == 2 && queue(pair[0], probe, sizeof probe, 1)
                        && submit(results) && results.size() == 1 && results[0].value == 2
                        && std::memcmp(probe, "ok", 2) == 0;
    ::close(pair[0]);
    ::close(pair[1]);
    if (!empty || !filled) {
        close();
        return false;
    }
    return true;
}

void RingReader::close()
{
    if (ring)
        io_uring_queue_exit(ring.get());
    ring.reset();
    sqEntries = 0;
    inFlight = 0;
}

bool RingReader::queue(int fd, char *buffer, size_t size, uint64_t tag)
{
    io_uring_sqe *entry = ring ? io_uring_get_sqe(ring.get()) : nullptr;
    if (!entry)
        return false;
    io_uring_prep_recv(entry, fd, buffer, size, MSG_DONTWAIT); // complete now, never wait for bytes
    entry->user_data = tag;
    return true;
}

bool RingReader::submit(std::vector<Result> &results)
{
    return enter(results, true);
}

bool RingReader::submitQueued()
{
    const unsigned ready = io_uring_sq_ready(ring.get());
    io_uring_submit(ring.get());
    const unsigned taken = ready - io_uring_sq_ready(ring.get());
    inFlight += taken;
    return taken > 0 || ready == 0;
}

void RingReader::collect(std::vector<Result> &results)
{
    unsigned head;
    unsigned count = 0;
    io_uring_cqe *done;
    io_uring_for_each_cqe(ring.get(), head, done)
    {
        results.push_back({done->user_data, long(done->res)});
        ++count;
    }
    io_uring_cq_advance(ring.get(), count);
    inFlight -= count;
}

bool RingReader::enter(std::vector<Result> &results, bool waitForAll)
{
    results.clear();
    if (!ring)
        return false;
    // The first submission does not wait: every receive completes within
    // it. A receive pushed to a kernel worker, or entries the kernel did
    // not take yet, are waited for after that.
    if (!submitQueued() && inFlight == 0) {
        // The kernel took none of them (no memory, a sandbox): nothing can
        // write into a buffer later, so the ring goes.
        close();
        return false;
    }
    collect(results);
    while (waitForAll && (inFlight > 0 || io_uring_sq_ready(ring.get()) > 0)) {
        if (io_uring_sq_ready(ring.get()) > 0 && !submitQueued() && inFlight == 0) {
            close();
            return true; // what completed is valid; the rest was never taken
        }
        // Once receives are taken they are waited for, whatever the call
        // reports: their buffers are not the caller's before they complete.
        io_uring_cqe *done;
        if (inFlight > 0)
            io_uring_wait_cqe(ring.get(), &done);
        collect(results);
    }
    return true;
}
