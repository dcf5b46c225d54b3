#include "link/measureStore.h"

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

measureStore::measureStore(int capacity_)
    : buffer(new StreamSample[capacity_ > 1 ? capacity_ : 2]), capacity(capacity_ > 1 ? capacity_ : 2)
{
}

void measureStore::clear()
{
    StoreLock lock(mutex);
    head = tail = 0;
}

int measureStore::count()
{
    StoreLock lock(mutex);
    return (head - tail + capacity) % capacity;
}

void measureStore::push(const StreamSample &sample)
{
    StoreLock lock(mutex);
    if ((capacity - head + tail) % capacity == 1)
        tail = (tail + 1) % capacity;
    buffer[head] = sample;
    if (++head == capacity)
        head = 0;
}

bool measureStore::pop(StreamSample &sample)
{
    StoreLock lock(mutex);
    if (head == tail)
        return false;
    sample = buffer[tail];
    if (++tail == capacity)
        tail = 0;
    return true;
}

void measureStore::pushSamples(const StreamSample *samples, int n)
{
    if (n <= 0)
        return;
    // Only the newest capacity - 1 samples of a long batch can stay.
    if (n > capacity - 1) {
        samples += n - (capacity - 1);
        n = capacity - 1;
    }
    StoreLock lock(mutex);
    for (int i = 0; i < n; ++i) {
        if ((capacity - head + tail) % capacity == 1)
            tail = (tail + 1) % capacity;
        buffer[head] = samples[i];
        if (++head == capacity)
            head = 0;
    }
}

int measureStore::takeSamples(StreamSample *out, int maxCount)
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
