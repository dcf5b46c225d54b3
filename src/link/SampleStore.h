#pragma once

#include "link/StreamSample.h"

#include <QMutex>
#include <QObject>

#include <atomic>
#include <memory>

// Bounded ring of stream samples from the link thread (push) to the display
// (pop). Preallocated: no allocation per sample. Holds at most capacity - 1
// samples; a full store drops its oldest sample so the reader never waits
// for the consumer. Every operation holds the mutex for its whole duration.
//
// Samples a full store overwrote are counted (since the last clear(), which
// a stream start does); dropped() reads the count without the lock, so the
// user-interface thread can show it at any time.
class SampleStore : public QObject
{
    Q_OBJECT
public:
    explicit SampleStore(int capacity);

    void clear();
    int count();
    void push(const StreamSample &sample);
    bool pop(StreamSample &sample);
    // Samples overwritten unread since the last clear() (every stream start
    // clears the store), and since the store was made.
    qint64 dropped() const { return droppedTotal() - droppedAtClear.load(std::memory_order_relaxed); }
    qint64 droppedTotal() const { return droppedCount.load(std::memory_order_relaxed); }
    // Batch forms of push and pop: one lock for the whole batch. pushSamples
    // behaves like push called for each sample in order; takeSamples moves up
    // to maxCount of the oldest samples into out and returns how many.
    void pushSamples(const StreamSample *samples, int count);
    int takeSamples(StreamSample *out, int maxCount);

private:
    std::unique_ptr<StreamSample[]> buffer;
    QMutex mutex;
    const int capacity;
    int head = 0; // next write index
    int tail = 0; // next read index
    // Written under the mutex, read without it.
    std::atomic<qint64> droppedCount{0};
    std::atomic<qint64> droppedAtClear{0};
};
