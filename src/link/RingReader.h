#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct io_uring;

// Receives from many sockets with one system call. Each pass queues one
// non-blocking receive per socket on an io_uring submission queue and
// enters the kernel once; at fifty sockets that saves the forty-nine
// other entries into the kernel, which cost more than the receiving.
// Every receive completes within that one call: with the bytes, 0 at the
// socket's end, or -errno (-EAGAIN when nothing waits), exactly what
// recv() with MSG_DONTWAIT would have returned.
//
// open() refuses (and the caller reads socket by socket) where the kernel
// or a sandbox does not offer io_uring, or where a receive on an empty
// socket would not complete at once: a receive left waiting in the kernel
// could write into a buffer after the pass.
class RingReader
{
public:
    RingReader();
    ~RingReader();
    RingReader(const RingReader &) = delete;
    RingReader &operator=(const RingReader &) = delete;

    bool open(unsigned entries);
    bool isOpen() const { return ring != nullptr; }
    // Receives queued per submit(); more wait for the next submit().
    unsigned capacity() const { return sqEntries; }

    // Queues a receive of up to size bytes into buffer; false when the
    // queue is full.
    bool queue(int fd, char *buffer, size_t size, uint64_t tag);

    struct Result
    {
        uint64_t tag;
        long value; // bytes received, 0 at the end, or -errno
    };
    // Submits what is queued and returns once every receive has completed;
    // results are in no particular order. False when the kernel refused the
    // submission: nothing was received, the ring is closed and the caller
    // reads the sockets itself from then on.
    bool submit(std::vector<Result> &results);

private:
    void close();
    // Submits what is queued and collects completions; with waitForAll,
    // until none is in flight.
    bool enter(std::vector<Result> &results, bool waitForAll);
    // Hands the kernel what is queued; false when it took none.
    bool submitQueued();
    void collect(std::vector<Result> &results);

    std::unique_ptr<io_uring> ring;
    unsigned sqEntries = 0;
    unsigned inFlight = 0; // taken by the kernel, not completed yet
};
