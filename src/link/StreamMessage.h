#pragma once

#include "link/StreamSample.h"

#include <cstdint>

// The fixed 25-byte stream message: 0x00 ';' status mode, ten 16-bit values
// high byte first, ';'. The same layout answers the stream start commands
// and "S1S;".
namespace StreamMessage {

constexpr int size = 25;

// Status byte (2) and mode byte (3) bits.
constexpr uint8_t lastMessageBit = 0x80;
constexpr uint8_t ignoreSampleBit = 0x04;

// Framing check: byte 0 is 0x00, byte 1 and byte 24 are ';'.
bool isValid(const char *message);

// Decodes the values; the flag fields are filled only when withFlags is set
// (firmware 11 and later), otherwise they stay false.
void decode(const char *message, bool withFlags, int32_t arrivalTime, StreamSample &sample);

inline bool isLastMessage(const char *message)
{
    return (static_cast<uint8_t>(message[2]) & lastMessageBit) != 0;
}

inline bool isIgnoredSample(const char *message)
{
    return (static_cast<uint8_t>(message[3]) & ignoreSampleBit) != 0;
}

} // namespace StreamMessage
