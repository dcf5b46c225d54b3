#pragma once

// Python's headers before Qt's: Qt's "slots" keyword clashes with them.
#include <pybind11/pybind11.h>

#include "PyController.h"

#include <pybind11/numpy.h>

#include <QElapsedTimer>

#include <memory>
#include <vector>

// The stream of one or more controllers as a Python script reads it. The
// samples are taken from each link's store (without the GIL) into one
// growing list per controller, from which rows are handed out as arrays.
// Every stream that was started is stopped again, whatever ends the reading
// (done, a broken link, Ctrl-C, an exception, the object going away).
class SampleStream
{
public:
    SampleStream(std::vector<std::shared_ptr<PyController>> controllers, int rate);
    ~SampleStream();
    SampleStream(const SampleStream &) = delete;
    SampleStream &operator=(const SampleStream &) = delete;

    // Starts every controller's stream (in parallel). Raises when one did
    // not start; the others are stopped then.
    void start();
    // Stops every stream ("CLS;" reaches each controller even during
    // Ctrl-C) and takes the last samples. Raises when a stream did not stop
    // unless quietly is set.
    void stop(bool quietly = false);
    bool running() const { return started; }

    // Takes the samples that arrived; needs no GIL.
    void collect();
    // Collects until ready() holds, a link broke, a stream stalled, or a
    // signal (Ctrl-C) came; a signal stops the streams and raises its
    // exception, a broken link ConnectionError, a controller that sent
    // nothing for stallLimitMs NoReplyError.
    static constexpr int stallLimitMs = 5000;
    template<typename Ready>
    void collectUntil(Ready ready);

    std::size_t available(std::size_t controller) const;
    // The next count rows of a controller (at most those available).
    pybind11::array take(std::size_t controller, std::size_t count);

private:
    struct Channel
    {
        std::shared_ptr<PyController> controller;
        std::vector<StreamSample> samples;
        std::size_t handedOut = 0; // samples before this index were returned
        int64_t handedOutTotal = 0;
        qint64 lastSampleAt = 0; // Connection::now() of the last take that found samples
    };
    bool linkBroken() const;
    const Channel *stalled() const;
    void collectStep(const std::function<bool()> &ready);

    std::vector<Channel> channels;
    int rate;
    bool started = false;
};

// Streams every controller for `seconds` from the start command on (or
// until each delivered `count` samples, then exactly count rows each).
std::vector<pybind11::array> streamFor(const std::vector<std::shared_ptr<PyController>> &controllers, int rate,
                                       double seconds, long long count);

// The Python iterator of stream_blocks(): starts at the first next(), hands
// out arrays of `block` rows, and stops the stream on close(), on a break
// out of the loop (the object goes away) or on an error.
class BlockIterator
{
public:
    BlockIterator(std::shared_ptr<PyController> controller, int rate, std::size_t block);
    pybind11::array next();
    void close();

private:
    SampleStream stream;
    std::size_t block;
    bool finished = false;
};
