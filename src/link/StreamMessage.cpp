#include "link/StreamMessage.h"

namespace {

inline uint16_t word(const char *message, int offset)
{
    return static_cast<uint16_t>((static_cast<uint8_t>(message[offset]) << 8)
                                 | static_cast<uint8_t>(message[offset + 1]));
}

inline int16_t signedWord(const char *message, int offset)
{
    return static_cast<int16_t>(word(message, offset));
}

} // namespace

namespace StreamMessage {

bool isValid(const char *message)
{
    return message[0] == 0x00 && message[1] == ';' && message[24] == ';';
}

void decode(const char *message, bool withFlags, int32_t arrivalTime, StreamSample &sample)
{
    sample.time = arrivalTime;
    if (withFlags) {
        const auto status = static_cast<uint8_t>(message[2]);
        const auto mode = static_cast<uint8_t>(message[3]);
        sample.stabOn1 = status & 0x08;
        sample.stabOn2 = status & 0x10;
        sample.active1 = status & 0x20;
        sample.active2 = status & 0x40;
        sample.multiplex1 = mode & 0x01;
        sample.multiplex2 = mode & 0x02;
    } else {
        sample.stabOn1 = sample.stabOn2 = sample.active1 = sample.active2 = false;
        sample.multiplex1 = sample.multiplex2 = false;
    }
    sample.x1 = signedWord(message, 4);
    sample.y1 = signedWord(message, 6);
    sample.intensity1 = word(message, 8);
    sample.x2 = signedWord(message, 10);
    sample.y2 = signedWord(message, 12);
    sample.intensity2 = word(message, 14);
    sample.rangeX1 = signedWord(message, 16);
    sample.rangeY1 = signedWord(message, 18);
    sample.rangeX2 = signedWord(message, 20);
    sample.rangeY2 = signedWord(message, 22);
}

} // namespace StreamMessage
