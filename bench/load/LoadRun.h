#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "link/StreamSample.h"

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
    int batchMs = -1;         // stream batch interval of the links; -1 = their default
    bool serial = false;      // pseudo-terminals (SerialPort) instead of TCP (TcpClient)
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
    long contextSwitches = 0; // of this process's threads over that window (each is a sleep or a preemption)
    double delayMedianMs = 0; // send to takeSamples
    double delayP99Ms = 0;
    double delayMaxMs = 0;
    double storeMedianMs = 0; // send to the arrival stamp (the moment it went into the store)
    double storeP99Ms = 0;
    double storeMaxMs = 0;
    int disconnects = 0;     // hostDisconnected notices (should be 0)
    int stillStreaming = 0;  // links whose stop was not confirmed (should be 0)
};

// One load run: starts beamstab-sim --bench with the given number of
// controllers as a separate process, connects and identifies one TcpClient
// (or SerialPort over a pseudo-terminal) per controller, streams all of them at the rate for the given time while
// a timer in this thread takes samples out of the stores, stops every
// stream and takes what is left.
LoadResult runLoad(const LoadOptions &options);

// Starts beamstab-sim --bench for the options (TCP or pseudo-terminals) and
// returns one endpoint per controller: a TCP port number as text, or the
// path of the terminal's link. links is where the terminal links are made.
class QProcess;
bool startSimulator(QProcess &sim, const LoadOptions &options, const QString &linkDirectory,
                    QStringList &endpoints, QString &error);
void stopSimulator(QProcess &sim);

// Delay in microseconds from the send time a benchmark sample carries to
// its arrival stamp, rounded up to the stamp's next millisecond (the stamp
// has millisecond resolution, so this is an upper bound).
int32_t sendToStoreMicros(const StreamSample &sample, uint64_t nowMicros);
uint64_t realtimeMicros64();
double percentileMs(std::vector<int32_t> &sorted, double fraction);
