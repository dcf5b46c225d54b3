#include "link/measureStore.h"

#include <QMutexLocker>

measureStore::measureStore(int capacity_)
    : buffer(new StreamSample[capacity_ > 1 ? capacity_ : 2]), capacity(capacity_ > 1 ? capacity_ : 2)
{
}

void measureStore::clear()
{
    QMutexLocker lock(&mutex);
    head = tail = 0;
}

int measureStore::count()
{
    QMutexLocker lock(&mutex);
    return (head - tail + capacity) % capacity;
}

void measureStore::push(const StreamSample &sample)
{
    QMutexLocker lock(&mutex);
    if ((capacity - head + tail) % capacity == 1)
        tail = (tail + 1) % capacity;
    buffer[head] = sample;
    if (++head == capacity)
        head = 0;
}

bool measureStore::pop(StreamSample &sample)
{
    QMutexLocker lock(&mutex);
    if (head == tail)
        return false;
    sample = buffer[tail];
    if (++tail == capacity)
        tail = 0;
    return true;
}
