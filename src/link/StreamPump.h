#pragma once

#include "link/RingReader.h"

#include <condition_variable>
#include <mutex>
#include <vector>

class Connection;

// One thread for the whole process that reads the streams of all links
// while they stream undisturbed. Fifty link threads each waking every few
// milliseconds cost far more than the reading itself; the pump wakes once
// per interval, reads every attached link's descriptor without blocking
// and decodes whole, plain stream messages into that link's store.
//
// The sockets of a pass are received from with one system call where the
// kernel offers it (RingReader); serial ports are read one by one.
//
// A link attaches itself from its own thread only while it streams with no
// command in flight, its device idle and its read notifier held off. The
// pump gives a link back (posts to its thread) as soon as it meets anything
// but plain stream messages at a frame start, or the descriptor reports
// the end or an error; the link then reads on from the first unread byte.
// detach() is synchronous: once it returns the pump no longer touches the
// link, which owns its buffers again.
class StreamPump
{
public:
    static StreamPump &instance();

    // Whether links hand their streams to the pump; on by default. Off,
    // each link thread reads its own stream on its batch timer.
    static bool enabled();
    static void setEnabled(bool on);
    // Whether sockets are received from with one call per pass; on by
    // default. Off (or where refused), each is read on its own.
    static bool ringReads();
    static void setRingReads(bool on);

    void attach(Connection *link, int intervalMs, unsigned ticket);
    void detach(Connection *link);

private:
    StreamPump() = default;
    void run();
    void pass();
    void receiveFromSockets();

    struct Entry
    {
        Connection *link;
        int interval; // ms
        unsigned ticket;
    };
    std::mutex lock; // held for a whole pass: a detaching link waits for it
    std::condition_variable linksWaiting;
    std::vector<Entry> entries;
    unsigned attaches = 0; // wakes the pump's wait for the next pass
    bool running = false; // the thread is started with the first link
    // The pump thread's own, used during a pass:
    RingReader ring;
    bool ringTried = false;
    std::vector<long> received; // per entry: what the ring received, or Connection::notRead
    std::vector<RingReader::Result> results;
};
