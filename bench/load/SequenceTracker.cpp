#include "SequenceTracker.h"

#include <time.h>

SequenceTracker::SequenceTracker(int expectedMessages)
{
    seen.assign(size_t(expectedMessages) + 1, 0);
    delayMicros.reserve(size_t(expectedMessages));
}

uint32_t SequenceTracker::sequenceOf(const StreamSample &sample)
{
    return (uint32_t(uint16_t(sample.rangeX2)) << 16) | uint16_t(sample.rangeY2);
}

uint32_t SequenceTracker::sendTimeOf(const StreamSample &sample)
{
    return (uint32_t(uint16_t(sample.rangeX1)) << 16) | uint16_t(sample.rangeY1);
}

uint32_t SequenceTracker::realtimeMicros()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u);
}

void SequenceTracker::add(const StreamSample &sample, uint32_t takenMicros, bool withDelay)
{
    const uint32_t sequence = sequenceOf(sample);
    ++receivedCount;
    // The clock words wrap every 71 minutes; the difference stays right.
    if (withDelay)
        delayMicros.push_back(int32_t(takenMicros - sendTimeOf(sample)));
    if (sequence >= seen.size())
        seen.resize(size_t(sequence) * 2 + 1, 0);
    if (seen[sequence]) {
        ++duplicateCount;
        return;
    }
    seen[sequence] = 1;
    if (sequence != 0)
        ++distinctCount;
    if (sequence < highestSeen)
        ++outOfOrderCount;
    else
        highestSeen = sequence;
}
