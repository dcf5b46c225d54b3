#include "SampleStream.h"

#include "Arrays.h"
#include "Errors.h"
#include "Waiting.h"

namespace py = pybind11;
using namespace beamstab;

namespace {
constexpr int collectIntervalMs = 2; // the store holds about 2 s at 500 Hz; this is far inside
}

SampleStream::SampleStream(std::vector<std::shared_ptr<PyController>> controllers, int samplingRate)
    : rate(samplingRate)
{
    if (rate < 1 || rate > 500)
        throw py::value_error("the rate takes 1 to 500 Hz");
    for (auto &c : controllers) {
        if (!c)
            throw py::value_error("None is not a controller");
        for (const Channel &other : channels)
            if (other.controller == c)
                throw py::value_error("a controller is named twice");
        channels.push_back(Channel{c, {}, 0, 0, 0});
    }
}

SampleStream::~SampleStream()
{
    if (started)
        stop(true);
}

void SampleStream::start()
{
    for (Channel &ch : channels) {
        ch.controller->requests(); // raises when closed
        if (ch.controller->hasOpenStream())
            throw CommandFailed("a stream of " + ch.controller->url() + " is already open");
    }
    std::vector<QFuture<bool>> starts;
    for (Channel &ch : channels) {
        ch.controller->setStreamOpen(true);
        starts.push_back(ch.controller->requests()->startStream(rate));
    }
    started = true;
    try {
        for (std::size_t i = 0; i < starts.size(); ++i) {
            if (await(starts[i])) {
                channels[i].lastSampleAt = Connection::now();
                continue;
            }
            const std::string url = channels[i].controller->url();
            if (channels[i].controller->linkState() != Connection::Connected)
                throw ConnectionFailed("the link to " + url + " broke");
            throw CommandFailed("the stream of " + url + " did not start");
        }
    } catch (...) {
        stop(true); // a controller may have started without answering
        throw;
    }
}

void SampleStream::stop(bool quietly)
{
    if (!started)
        return;
    started = false;
    std::vector<QFuture<void>> stops;
    for (Channel &ch : channels) {
        try {
            stops.push_back(ch.controller->requests()->stopStream());
        } catch (const ConnectionFailed &) {
            // Closed meanwhile: closing stopped the stream.
        }
    }
    {
        py::gil_scoped_release release;
        for (const auto &f : stops)
            while (!f.isFinished())
                QThread::msleep(1);
        collect();
    }
    std::string notStopped;
    for (Channel &ch : channels) {
        ch.controller->setStreamOpen(false);
        if (ch.controller->isStreaming())
            notStopped += (notStopped.empty() ? "" : ", ") + ch.controller->url();
    }
    if (!notStopped.empty() && !quietly)
        throw CommandFailed("the stream did not stop: " + notStopped);
}

void SampleStream::collect()
{
    for (Channel &ch : channels) {
        const std::size_t before = ch.samples.size();
        ch.controller->takeSamples(ch.samples);
        if (ch.samples.size() > before)
            ch.lastSampleAt = Connection::now();
    }
}

const SampleStream::Channel *SampleStream::stalled() const
{
    const qint64 now = Connection::now();
    for (const Channel &ch : channels)
        if (now - ch.lastSampleAt > stallLimitMs)
            return &ch;
    return nullptr;
}

bool SampleStream::linkBroken() const
{
    for (const Channel &ch : channels)
        if (ch.controller->linkState() != Connection::Connected)
            return true;
    return false;
}

void SampleStream::collectStep(const std::function<bool()> &ready)
{
    QElapsedTimer timer;
    timer.start();
    bool broken = false, done = false;
    {
        py::gil_scoped_release release;
        while (timer.elapsed() < signalCheckMs) {
            collect();
            if ((done = ready()) || (broken = linkBroken()))
                break;
            QThread::msleep(collectIntervalMs);
        }
    }
    if (broken && !done) {
        stop(true);
        throw ConnectionFailed("the link broke while streaming");
    }
    if (const Channel *ch = done ? nullptr : stalled()) {
        const std::string url = ch->controller->url();
        stop(true);
        throw NoReply("no stream message from " + url + " for " + std::to_string(stallLimitMs / 1000) + " s");
    }
}

template<typename Ready>
void SampleStream::collectUntil(Ready ready)
{
    const std::function<bool()> check = ready;
    try {
        while (!check()) {
            collectStep(check);
            raisePendingSignal();
        }
    } catch (...) {
        stop(true);
        throw;
    }
}

std::size_t SampleStream::available(std::size_t controller) const
{
    const Channel &ch = channels.at(controller);
    return ch.samples.size() - ch.handedOut;
}

py::array SampleStream::take(std::size_t controller, std::size_t count)
{
    Channel &ch = channels.at(controller);
    count = std::min(count, available(controller));
    const int32_t first = ch.samples.empty() ? 0 : ch.samples.front().time;
    py::array rows = sampleArray(ch.samples, ch.handedOut, count, first, ch.handedOutTotal);
    ch.handedOut += count;
    ch.handedOutTotal += int64_t(count);
    // Keep the first sample (the time origin); drop the rest handed out.
    if (ch.handedOut > 65536) {
        ch.samples.erase(ch.samples.begin() + 1, ch.samples.begin() + std::ptrdiff_t(ch.handedOut));
        ch.handedOut = 1;
    }
    return rows;
}

std::vector<py::array> streamFor(const std::vector<std::shared_ptr<PyController>> &controllers, int rate,
                                 double seconds, long long count)
{
    if (count <= 0 && !(seconds > 0 && seconds <= 86400))
        throw py::value_error("give seconds (more than 0, at most 86400) or a count of samples");
    SampleStream stream(controllers, rate);
    // As the command-line tool: the time runs from the start command on.
    QElapsedTimer timer;
    timer.start();
    stream.start();
    const qint64 durationMs = seconds > 0 ? qint64(seconds * 1000.0) : -1;
    stream.collectUntil([&] {
        if (durationMs >= 0 && timer.elapsed() >= durationMs)
            return true;
        if (count <= 0)
            return false;
        for (std::size_t i = 0; i < controllers.size(); ++i)
            if (stream.available(i) < std::size_t(count))
                return false;
        return true;
    });
    stream.stop();
    std::vector<py::array> result;
    for (std::size_t i = 0; i < controllers.size(); ++i)
        result.push_back(stream.take(i, count > 0 ? std::size_t(count) : stream.available(i)));
    return result;
}

BlockIterator::BlockIterator(std::shared_ptr<PyController> controller, int rate, std::size_t blockRows)
    : stream({std::move(controller)}, rate)
    , block(blockRows)
{
    if (block < 1)
        throw py::value_error("a block has at least one row");
}

py::array BlockIterator::next()
{
    if (finished)
        throw py::stop_iteration();
    try {
        if (!stream.running())
            stream.start();
        stream.collectUntil([this] { return stream.available(0) >= block; });
    } catch (...) {
        finished = true;
        throw;
    }
    return stream.take(0, block);
}

void BlockIterator::close()
{
    finished = true;
    stream.stop();
}
