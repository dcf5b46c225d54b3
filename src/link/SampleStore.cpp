#include "link/SampleStore.h"

#include "link/ThreadAnnotations.h"

#include <QMutexLocker>

namespace {

// Holds the store's mutex for one operation.
class StoreLock
{
public:
    explicit StoreLock(QMutex &m) : mutex(m)
    {
        mutex.lock();
        annotateAcquire(&mutex);
    }
    ~StoreLock()
    {
        annotateRelease(&mutex);
        mutex.unlock();
    }

private:
    QMutex &mutex;
};

} // namespace

SampleStore::SampleStore(int capacity_)
    : buffer(new StreamSample[capacity_ > 1 ? capacity_ : 2]), capacity(capacity_ > 1 ? capacity_ : 2)
{
}

void SampleStore::clear()
{
    StoreLock lock(mutex);
    head = tail = 0;
    droppedAtClear.store(droppedCount.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

int SampleStore::count()
{
    StoreLock lock(mutex);
    return (head - tail + capacity) % capacity;
}

void SampleStore::push(const StreamSample &sample)
{
    StoreLock lock(mutex);
    if ((capacity - head + tail) % capacity == 1) {
        tail = (tail + 1) % capacity;
        droppedCount.store(droppedCount.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    buffer[head] = sample;
    if (++head == capacity)
        head = 0;
}

bool SampleStore::pop(StreamSample &sample)
{
    StoreLock lock(mutex);
    if (head == tail)
        return false;
    sample = buffer[tail];
    if (++tail == capacity)
        tail = 0;
    return true;
}

void SampleStore::pushSamples(const StreamSample *samples, int n)
{
    if (n <= 0)
        return;
    // Only the newest capacity - 1 samples of a long batch can stay; the
    // ones cut here count as dropped like those overwritten below.
    qint64 lost = 0;
    if (n > capacity - 1) {
        lost = n - (capacity - 1);
        samples += lost;
        n = capacity - 1;
    }
    StoreLock lock(mutex);
    for (int i = 0; i < n; ++i) {
        if ((capacity - head + tail) % capacity == 1) {
            tail = (tail + 1) % capacity;
            ++lost;
        }
        buffer[head] = samples[i];
        if (++head == capacity)
            head = 0;
    }
    if (lost)
        droppedCount.store(droppedCount.load(std::memory_order_relaxed) + lost, std::memory_order_relaxed);
}

int SampleStore::takeSamples(StreamSample *out, int maxCount)
{
    StoreLock lock(mutex);
    int taken = 0;
    while (taken < maxCount && tail != head) {
        out[taken++] = buffer[tail];
        if (++tail == capacity)
            tail = 0;
    }
    return taken;
}
