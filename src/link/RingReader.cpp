#include "link/RingReader.h"

#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

template <typename T>
T *at(void *base, unsigned offset)
{
    return reinterpret_cast<T *>(static_cast<char *>(base) + offset);
}

} // namespace

RingReader::~RingReader()
{
    close();
}

bool RingReader::open(unsigned entries)
{
    close();
#ifdef __NR_io_uring_setup
    io_uring_params params{};
    ringFd = int(syscall(__NR_io_uring_setup, entries, &params));
    if (ringFd < 0)
        return false;
    // One mapping for both rings (kernels since 5.4); older ones refuse.
    if (!(params.features & IORING_FEAT_SINGLE_MMAP)) {
        close();
        return false;
    }
    sqEntries = params.sq_entries;
    ringSize = std::max<size_t>(params.sq_off.array + params.sq_entries * sizeof(unsigned),
                                params.cq_off.cqes + params.cq_entries * sizeof(io_uring_cqe));
    ringMemory = mmap(nullptr, ringSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, ringFd, IORING_OFF_SQ_RING);
    sqesSize = params.sq_entries * sizeof(io_uring_sqe);
    void *sqeMemory = mmap(nullptr, sqesSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, ringFd, IORING_OFF_SQES);
    if (ringMemory == MAP_FAILED || sqeMemory == MAP_FAILED) {
        if (ringMemory == MAP_FAILED)
            ringMemory = nullptr;
        if (sqeMemory != MAP_FAILED)
            munmap(sqeMemory, sqesSize);
        close();
        return false;
    }
    sqes = static_cast<io_uring_sqe *>(sqeMemory);
    sqTail = at<unsigned>(ringMemory, params.sq_off.tail);
    sqMask = at<unsigned>(ringMemory, params.sq_off.ring_mask);
    sqArray = at<unsigned>(ringMemory, params.sq_off.array);
    cqHead = at<unsigned>(ringMemory, params.cq_off.head);
    cqTail = at<unsigned>(ringMemory, params.cq_off.tail);
    cqMask = at<unsigned>(ringMemory, params.cq_off.ring_mask);
    cqes = at<io_uring_cqe>(ringMemory, params.cq_off.cqes);

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
    if (inFlight > 0) {
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
#else
    (void)entries;
    return false;
#endif
}

void RingReader::close()
{
    if (sqes)
        munmap(sqes, sqesSize);
    if (ringMemory)
        munmap(ringMemory, ringSize);
    if (ringFd >= 0)
        ::close(ringFd);
    ringFd = -1;
    sqes = nullptr;
    ringMemory = nullptr;
    sqEntries = 0;
    queued = 0;
    inFlight = 0;
}

bool RingReader::queue(int fd, char *buffer, size_t size, uint64_t tag)
{
    if (ringFd < 0 || queued == sqEntries)
        return false;
    // Only this thread writes the tail; the kernel reads it on submit.
    const unsigned tail = *sqTail + queued;
    const unsigned index = tail & *sqMask;
    io_uring_sqe &entry = sqes[index];
    std::memset(&entry, 0, sizeof entry);
    entry.opcode = IORING_OP_RECV;
    entry.fd = fd;
    entry.addr = reinterpret_cast<uint64_t>(buffer);
    entry.len = unsigned(size);
    entry.msg_flags = MSG_DONTWAIT; // complete now, never wait for bytes
    entry.user_data = tag;
    sqArray[index] = index;
    ++queued;
    return true;
}

bool RingReader::submit(std::vector<Result> &results)
{
    return enter(results, true);
}

bool RingReader::enter(std::vector<Result> &results, bool waitForAll)
{
    results.clear();
#ifdef __NR_io_uring_enter
    const unsigned count = queued;
    queued = 0;
    __atomic_store_n(sqTail, *sqTail + count, __ATOMIC_RELEASE);
    inFlight += count;
    unsigned unsubmitted = count;
    unsigned flags = 0;
    while (inFlight > 0) {
        // The first call submits and does not wait: every receive completes
        // within it. Later calls (a receive pushed to a worker, or entries
        // the kernel did not take yet) wait for the rest.
        const unsigned waitFor = flags ? inFlight : 0u;
        const long entered = syscall(__NR_io_uring_enter, ringFd, unsubmitted, waitFor, flags, nullptr, 0);
        if (entered < 0 && errno != EINTR && unsubmitted == count && inFlight == count) {
            // The kernel took none of them (no memory, a sandbox): withdraw.
            __atomic_store_n(sqTail, *sqTail - count, __ATOMIC_RELEASE);
            inFlight = 0;
            return false;
        }
        // Once receives are taken they are waited for, whatever the call
        // reports: their buffers are not the caller's before they complete.
        if (entered > 0)
            unsubmitted -= std::min(unsubmitted, unsigned(entered));
        unsigned head = *cqHead;
        const unsigned tail = __atomic_load_n(cqTail, __ATOMIC_ACQUIRE);
        for (; head != tail; ++head) {
            const io_uring_cqe &done = cqes[head & *cqMask];
            results.push_back({done.user_data, long(done.res)});
            --inFlight;
        }
        __atomic_store_n(cqHead, head, __ATOMIC_RELEASE);
        if (!waitForAll)
            break;
        flags = IORING_ENTER_GETEVENTS;
    }
    return true;
#else
    (void)results;
    (void)waitForAll;
    return false;
#endif
}
