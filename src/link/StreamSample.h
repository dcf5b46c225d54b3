#pragma once

#include <cstdint>

// One decoded stream message. Values stay in millivolts as the controller
// sent them; positions and actuator ranges are signed, intensities unsigned.
struct StreamSample
{
    int32_t time = 0; // arrival: low 32 bits of milliseconds since the epoch
    bool stabOn1 = false;
    bool stabOn2 = false;
    bool active1 = false;
    bool active2 = false;
    bool multiplex1 = false;
    bool multiplex2 = false;
    int16_t x1 = 0;
    int16_t y1 = 0;
    int16_t x2 = 0;
    int16_t y2 = 0;
    int16_t rangeX1 = 0;
    int16_t rangeY1 = 0;
    int16_t rangeX2 = 0;
    int16_t rangeY2 = 0;
    uint16_t intensity1 = 0;
    uint16_t intensity2 = 0;
};
