#pragma once

#include <QString>

class Connection;

// Measures what a link really carries: streams at a fixed rate for a fixed
// time, stops the stream and counts the samples that reached the
// connection's store. A count below the rate shows a slow or lossy link.
// Blocks the calling thread for the measuring time plus the reply waits;
// nobody else may take samples from the connection meanwhile (the caller's
// thread is the one that would), so the count is exact.
//
// The caller pauses a running stream before and resumes it afterwards
// (StreamPause); the connection must not be streaming when run() starts.
class LinkSpeedTest
{
public:
    enum Outcome { Measured, StartFailed, StopFailed };

    struct Result
    {
        Outcome outcome = StartFailed;
        int received = 0;
        int expected = 0; // samples the rate promises in the measuring time
    };

    static constexpr int defaultRate = 500;
    static constexpr int defaultDurationMs = 1000;

    static Result run(Connection &link, int rate = defaultRate, int durationMs = defaultDurationMs);

    // The result line: "Speed Test: 498 of 500 received" or the failure.
    static QString describe(const Result &result);
};
