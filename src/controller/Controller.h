#pragma once

#include "controller/LinkSequences.h"
#include "link/Connection.h"

#include <QFuture>
#include <QObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <functional>
#include <memory>
#include <type_traits>

Q_DECLARE_METATYPE(Protocol::StatusFlags)

// One controller: its link, and the one place through which every command
// sequence reaches it. Requests are queued per controller and carried out
// one after another, in the order they were made, on the controller's own
// worker thread; different controllers proceed in parallel. A request never
// blocks its caller: it returns a QFuture, whose result the window takes
// with whenReady() (FutureCallback.h) and the command-line tool or the
// Tango server may simply wait for.
//
// The link itself (address, state, stream samples) stays readable from any
// thread; only the exchanges go through the queue, so two sequences never
// interleave on the wire.
class Controller : public QObject
{
    Q_OBJECT
public:
    explicit Controller(std::unique_ptr<Connection> link, QObject *parent = nullptr);
    // Waits for the request in progress (requests still queued are skipped)
    // and then ends the link. Owners that must not wait call close() first
    // and delete the controller when it reports closed().
    ~Controller() override;
    Controller(const Controller &) = delete;
    Controller &operator=(const Controller &) = delete;

    Connection &link() const { return *connection; }
    QString address() const { return connection->address(); }
    bool isConnected() const { return connection->linkState() == Connection::Connected; }

    // ---- Requests ---------------------------------------------------------------------

    // Any sequence on the link, as the next request.
    template<typename Sequence>
    auto request(Sequence sequence) -> QFuture<std::invoke_result_t<Sequence, Connection &>>;

    // Starts the link thread if need be and waits up to waitMs for it to connect.
    QFuture<bool> open(int waitMs);
    // Stops a stream left running (stopAttempts times "CLS;"), then "GID;".
    QFuture<ControllerIdentity> identify(int stopAttempts = 2);
    // open() and identify() in one request; not valid when the link did not
    // connect in time. The two can be cancelled with cancel().
    QFuture<ControllerIdentity> openAndIdentify(int waitMs, int stopAttempts = 2);
    QFuture<bool> startStream(int rate);
    QFuture<void> stopStream();
    // The status flags. While a poll is outstanding a new one is not sent:
    // the outstanding one's future is returned. Polls do not make the
    // controller busy.
    QFuture<Protocol::StatusFlags> pollStatus();
    QFuture<LinkSequences::PausedOutcome> switchStabilization(int stage, bool on, int attempts = 1);
    QFuture<LinkSequences::PausedOutcome> setMultiplex(int stage, bool on);
    QFuture<bool> sendLabel(const QString &label);
    QFuture<LinkSequences::SpeedOutcome> speedTest(int rate, int durationMs);
    QFuture<ControllerIdentity> reconnect(int waitMs);
    // Stops a running stream and ends the link thread; true when it ended.
    QFuture<bool> disconnectLink();

    // Emits streamRestartFailed() when `resumed` is false: for sequences run
    // through request() that pause and resume the stream themselves. Callable
    // from the worker thread, like the typed requests do it.
    void reportStreamRestart(bool resumed)
    {
        if (!resumed)
            emit streamRestartFailed();
    }

    // Ends the link after the requests already queued and then emits
    // closed(); the controller may be deleted from then on without waiting.
    void close();

    // ---- State --------------------------------------------------------------------------

    // A request other than a status poll is queued or running.
    bool isBusy() const { return busyCount.load(std::memory_order_acquire) > 0; }
    // The running request, and every request queued before this call, give
    // up at their next step (a connect stops waiting, an identification
    // sends nothing more). Requests made afterwards run normally.
    void cancel() { cancelEpoch.fetch_add(1, std::memory_order_acq_rel); }
    // A request that takes samples from the link itself (the speed test)
    // runs: nobody else may take them meanwhile.
    bool ownsSamples() const { return samplesTaken.load(std::memory_order_acquire); }

signals:
    // Busy on the first queued request, not busy when the last one ended;
    // delivered in the controller's thread, with isBusy() at delivery.
    void busyChanged(bool busy);
    // A stream that ran before a command sequence did not start again.
    void streamRestartFailed();
    // Every status poll's result (not valid: no or a short reply).
    void statusRead(Protocol::StatusFlags flags);
    // The link was ended by close().
    void closed();

private:
    template<typename Result, typename Sequence>
    QFuture<Result> enqueue(Sequence sequence, bool counts);
    LinkSequences::CancelCheck cancelCheck() const;
    void requestEnded(bool counted);
    void announceBusy();

    std::unique_ptr<Connection> connection;
    QThreadPool worker; // one thread: the requests' order is the order of the queue
    std::atomic<int> busyCount{0};
    std::atomic<unsigned> cancelEpoch{0};
    std::atomic<bool> shuttingDown{false};
    std::atomic<bool> samplesTaken{false};
    std::atomic<bool> pollOutstanding{false};
    QFuture<Protocol::StatusFlags> lastPoll; // the caller's thread only
};

template<typename Result, typename Sequence>
QFuture<Result> Controller::enqueue(Sequence sequence, bool counts)
{
    if (counts && busyCount.fetch_add(1, std::memory_order_acq_rel) == 0)
        announceBusy();
    return QtConcurrent::run(&worker, [this, sequence = std::move(sequence), counts]() -> Result {
        struct End
        {
            Controller *owner;
            bool counts;
            ~End() { owner->requestEnded(counts); }
        } end{this, counts};
        if (shuttingDown.load(std::memory_order_acquire))
            return Result();
        return sequence(*connection);
    });
}

template<typename Sequence>
auto Controller::request(Sequence sequence) -> QFuture<std::invoke_result_t<Sequence, Connection &>>
{
    using Result = std::invoke_result_t<Sequence, Connection &>;
    return enqueue<Result>(std::move(sequence), true);
}
