#pragma once

class Connection;

// Stops a controller's running stream for a command sequence and restarts
// it afterwards at the rate it ran at. Commands other than the stop command
// never reach a streaming controller, so every sequence that talks to one
// is wrapped in pause() and resume().
class StreamPause
{
public:
    explicit StreamPause(Connection &connection) : link(connection) {}

    // Notes whether the stream runs and at which rate; if it runs, sends
    // "CLS;" and, when that is not confirmed, once more. Returns false only
    // when a running stream could not be stopped.
    bool pause();

    // Restarts the stream when it was running at pause(), at the noted
    // rate. Returns false only when a restart was needed and did not start
    // the stream.
    bool resume();

    bool wasStreaming() const { return running; }
    int rate() const { return runningRate; }

private:
    Connection &link;
    bool running = false;
    int runningRate = -1;
};
