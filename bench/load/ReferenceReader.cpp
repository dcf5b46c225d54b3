#include "ReferenceReader.h"

#include "SequenceTracker.h"

#include "link/StreamMessage.h"
#include "link/SampleStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace {

struct Stream
{
    int fd = -1;
    std::vector<char> pending; // bytes of a message not yet complete
    std::unique_ptr<SampleStore> store{new SampleStore(1040)};
};

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

int openTcp(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

int openTerminal(const QString &path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B921600);
    tio.c_cflag |= CRTSCTS;
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

void writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n <= 0)
            return;
        data += n;
        left -= n;
    }
}

// Decodes every whole message of the bytes (after what an earlier read
// left), the link's way: byte-wise resynchronisation while more bytes
// follow, one arrival time per read, one store lock per read.
void decodeRead(Stream &stream, const char *data, size_t size, std::vector<StreamSample> &batch)
{
    const char *bytes = data;
    if (!stream.pending.empty()) {
        stream.pending.insert(stream.pending.end(), data, data + size);
        bytes = stream.pending.data();
        size = stream.pending.size();
    }
    const auto arrival = static_cast<int32_t>(QDateTime::currentMSecsSinceEpoch() & 0xFFFFFFFF);
    size_t pos = 0;
    int count = 0;
    while (size - pos >= size_t(StreamMessage::size)) {
        while (size - pos > size_t(StreamMessage::size) && !StreamMessage::isValid(bytes + pos))
            ++pos;
        const char *message = bytes + pos;
        pos += StreamMessage::size;
        if (StreamMessage::isValid(message))
            StreamMessage::decode(message, true, arrival, batch[size_t(count++)]);
    }
    stream.store->pushSamples(batch.data(), count);
    std::vector<char> rest(bytes + pos, bytes + size);
    stream.pending.swap(rest);
}

} // namespace

LoadResult runReference(const LoadOptions &options)
{
    LoadResult result;
    result.controllers = options.controllers;
    const int k = options.controllers;
    QProcess sim;
    QStringList endpoints;
    QTemporaryDir linkDirectory;
    if (!startSimulator(sim, options, linkDirectory.path(), endpoints, result.error)) {
        stopSimulator(sim);
        return result;
    }

    std::vector<Stream> streams(static_cast<size_t>(k));
    const int poller = epoll_create1(0);
    for (int i = 0; i < k; ++i) {
        const int fd = options.serial ? openTerminal(endpoints[i]) : openTcp(endpoints[i].toInt());
        if (fd < 0) {
            result.error = QString("reference: cannot open controller %1").arg(i);
            break;
        }
        streams[size_t(i)].fd = fd;
    }
    const QByteArray start = QByteArray("SLS\x00\x00", 5) + char(options.rate >> 8) + char(options.rate & 0xFF) + ';';
    if (result.error.isEmpty()) {
        for (int i = 0; i < k; ++i) {
            Stream &stream = streams[size_t(i)];
            fcntl(stream.fd, F_SETFL, fcntl(stream.fd, F_GETFL) | O_NONBLOCK);
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u32 = uint32_t(i);
            epoll_ctl(poller, EPOLL_CTL_ADD, stream.fd, &event);
            writeAll(stream.fd, start);
        }
    }

    const int expected = int(options.seconds * options.rate * 1.2) + 1000;
    std::vector<SequenceTracker> trackers(size_t(k), SequenceTracker{expected});
    std::vector<int32_t> storeDelays;
    std::vector<StreamSample> taken(1040);
    auto drain = [&](bool withDelay) {
        for (int i = 0; i < k; ++i) {
            const int count = streams[size_t(i)].store->takeSamples(taken.data(), int(taken.size()));
            const uint64_t nowMicros = realtimeMicros64();
            for (int n = 0; n < count; ++n) {
                trackers[size_t(i)].add(taken[size_t(n)], uint32_t(nowMicros), withDelay);
                if (withDelay)
                    storeDelays.push_back(sendToStoreMicros(taken[size_t(n)], nowMicros));
            }
        }
    };

    if (result.error.isEmpty()) {
        std::vector<char> buffer(65536);
        std::vector<StreamSample> batch(buffer.size() / StreamMessage::size + 2);
        std::vector<epoll_event> events(static_cast<size_t>(k));
        const double cpuBefore = threadCpuMs();
        const uint64_t end = realtimeMicros64() + uint64_t(options.seconds * 1e6);
        uint64_t nextDrain = realtimeMicros64() + uint64_t(options.tickMs) * 1000;
        for (;;) {
            const uint64_t nowMicros = realtimeMicros64();
            if (nowMicros >= end)
                break;
            if (nowMicros >= nextDrain) {
                drain(true);
                nextDrain += uint64_t(options.tickMs) * 1000;
            }
            const int waitMs = int(std::min(end, nextDrain) > nowMicros ? (std::min(end, nextDrain) - nowMicros) / 1000 + 1 : 0);
            const int ready = epoll_wait(poller, events.data(), k, waitMs);
            for (int e = 0; e < ready; ++e) {
                Stream &stream = streams[events[size_t(e)].data.u32];
                for (;;) {
                    const ssize_t n = ::read(stream.fd, buffer.data(), buffer.size());
                    if (n <= 0)
                        break;
                    decodeRead(stream, buffer.data(), size_t(n), batch);
                    if (size_t(n) < buffer.size())
                        break;
                }
            }
        }
        result.cpuMs = threadCpuMs() - cpuBefore;
        drain(true);
        for (const SequenceTracker &tracker : trackers)
            result.windowSamples += tracker.received();
    }

    for (Stream &stream : streams) {
        if (stream.fd >= 0) {
            writeAll(stream.fd, QByteArrayLiteral("CLS;"));
            ::close(stream.fd);
        }
    }
    ::close(poller);
    stopSimulator(sim);

    for (const SequenceTracker &tracker : trackers) {
        result.sent += tracker.highest();
        result.received += tracker.received();
        result.lost += tracker.lost();
        result.duplicated += tracker.duplicates();
    }
    std::sort(storeDelays.begin(), storeDelays.end());
    result.storeMedianMs = percentileMs(storeDelays, 0.5);
    result.storeP99Ms = percentileMs(storeDelays, 0.99);
    result.storeMaxMs = storeDelays.empty() ? 0 : storeDelays.back() / 1000.0;
    result.ok = result.error.isEmpty();
    return result;
}
