#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

struct LoadOptions
{
    QString simulatorPath;
    int controllers = 1;
    double seconds = 30;
    int rate = 500;          // Hz
    int tickMs = 20;         // consumer interval, like the display tick at 50 Hz
    int samplesPerTick = 501; // per controller, as the display takes them
    // Starved receiver: from 1 s into the run, for this many ms, nothing is
    // taken out of the stores and a busy thread spins on every core.
    int starveMs = 0;
};

struct LoadResult
{
    bool ok = false;
    QString error;
    int controllers = 0;
    int64_t sent = 0;        // from the sequence numbers: sum of the highest numbers
    int64_t received = 0;
    int64_t lost = 0;        // sequence numbers that never arrived
    int64_t dropped = 0;     // samples the stores overwrote (their own count)
    int64_t duplicated = 0;
    int64_t outOfOrder = 0;
    int maxFill = 0;         // largest storedSamples() seen before a drain
    int64_t windowSamples = 0;  // samples taken while the CPU time was measured
    double cpuMs = 0;        // user + system of this process over that window
    double delayMedianMs = 0;
    double delayP99Ms = 0;
    double delayMaxMs = 0;
    int disconnects = 0;     // hostDisconnected notices (should be 0)
    int stillStreaming = 0;  // links whose stop was not confirmed (should be 0)
};

// One load run: starts beamstab-sim --bench with the given number of
// controllers as a separate process, connects and identifies one TcpClient
// per controller, streams all of them at the rate for the given time while
// a timer in this thread takes samples out of the stores, stops every
// stream and takes what is left.
LoadResult runLoad(const LoadOptions &options);
