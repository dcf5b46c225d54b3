#pragma once

#include "link/StreamSample.h"

#include <cstdint>
#include <vector>

// Accounting of one controller's benchmark stream. The simulator numbers
// every stream message (0 = the start reply, which the link does not store)
// and stamps its send time; from those the tracker counts exactly what was
// lost, duplicated or reordered, and collects the send-to-take delays.
class SequenceTracker
{
public:
    // expectedMessages only sizes the preallocated tables.
    explicit SequenceTracker(int expectedMessages);

    // Sequence number and send time (low 32 bits of realtime microseconds)
    // carried in a benchmark sample's actuator ranges.
    static uint32_t sequenceOf(const StreamSample &sample);
    static uint32_t sendTimeOf(const StreamSample &sample);
    // Low 32 bits of the microseconds since the Unix epoch, realtime clock.
    static uint32_t realtimeMicros();

    // One sample taken out of the store at takenMicros (realtimeMicros()).
    // Without a take time the sample is counted but adds no delay (samples
    // taken after the streams were stopped would measure the stop).
    void add(const StreamSample &sample, uint32_t takenMicros, bool withDelay = true);

    uint32_t highest() const { return highestSeen; }
    int64_t received() const { return receivedCount; }
    int64_t duplicates() const { return duplicateCount; }
    int64_t outOfOrder() const { return outOfOrderCount; }
    // Numbers 1..highest that never arrived.
    int64_t lost() const { return int64_t(highestSeen) - distinctCount; }
    // Send-to-take delays in microseconds, in arrival order.
    const std::vector<int32_t> &delays() const { return delayMicros; }

private:
    std::vector<uint8_t> seen;
    std::vector<int32_t> delayMicros;
    uint32_t highestSeen = 0;
    int64_t receivedCount = 0;
    int64_t distinctCount = 0;
    int64_t duplicateCount = 0;
    int64_t outOfOrderCount = 0;
};
