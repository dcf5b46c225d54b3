#pragma once

#include "StreamStatistics.h"

#include "analysis/HeadroomTracker.h"

#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>

class Connection;
class Controller;

// How to reach one controller and how to present its stream.
struct ControllerOptions
{
    bool tcp = true;
    QString address;         // IP address or serial port name
    int portOrBaud = 2000;   // TCP port or baud rate
    QString label;           // sent to the controller when not empty
    QString setupFile;       // setup file with the detector settings; empty = default file
    int samplingRate = 100;  // Hz, used by Start
    bool autoStart = false;  // start the stream after every (re)connection
    double eventRate = 10;   // period means per second
    int statisticsWindow = 500; // positions in the rolling mean and RMS radius
    int rawSamples = 500;    // raw samples kept for the spectrum attributes
    int reconnectIntervalMs = 3000;
};

// What the device shows; a copy taken under the worker's lock.
struct ControllerSnapshot
{
    enum class Link { Connecting, Idle, Streaming, Fault };
    Link link = Link::Connecting;
    QString statusText;
    QString controllerId;
    int firmwareVersion = 0;
    PeriodMeans last;         // means of the last period that had samples
    StageStatistics stats[2];
    bool stabOn[2] = {false, false};
    bool active[2] = {false, false};
    int pFactor[2] = {-1, -1}; // -1 = not read yet
    int samplingRate = 0;
    double eventRate = 0;
    qint64 received = 0;
    qint64 lost = 0;
    QString unit[2] = {"V", "V"};
    // Piezo headroom from the streamed actuator ranges, judged as the
    // window's range bars judge it: per stage the smaller distance of its two
    // axes to the end of their range (V, NaN before the first values), and
    // whether an axis of the stage warns, with the reasons (a line per axis
    // that warns: "Piezo x, stage 1 at 0.31 V: ...").
    double headroom[2];
    bool headroomWarning[2] = {false, false};
    QString headroomText;

    ControllerSnapshot();
    bool anyHeadroomWarning() const { return headroomWarning[0] || headroomWarning[1]; }
};

// Outcome of a request carried out by the worker.
struct RequestResult
{
    bool ok = false;
    QString message;
};

// Runs one controller link for the device server: opens and identifies it,
// reconnects after a failure, drains the stream into StreamStatistics and
// carries out the commands of the device one after the other. The exchanges
// are the controller's own requests (Controller), which this thread waits
// for; so a slow or dead controller holds up this thread only, never a
// caller longer than it chooses to wait (request()).
class ControllerWorker : public QThread
{
    Q_OBJECT
public:
    enum class Action { Start, Stop, StabilizationOn, StabilizationOff, SetPFactor, SetSamplingRate, Reconnect };

    // Called in the worker thread once per event period with the period's
    // means (only when it had samples) and on every change of the link state.
    using PeriodHandler = std::function<void(const ControllerSnapshot &, bool periodHadSamples)>;

    explicit ControllerWorker(const ControllerOptions &options, QObject *parent = nullptr);
    ~ControllerWorker() override;

    void setPeriodHandler(PeriodHandler handler) { periodHandler = std::move(handler); }
    // Told (from the worker thread, before start() returns at the latest
    // for the worker itself) of every thread that starts or stops working
    // for this controller: the worker, and each link's threads. Set it
    // before start().
    using ThreadHandler = std::function<void(const QThread *, bool working)>;
    void setThreadHandler(ThreadHandler handler) { threadHandler = std::move(handler); }

    // Queues an action and waits up to waitMs for its result. When the
    // worker is still busy with it afterwards, the result says so; the
    // action is still carried out.
    RequestResult request(Action action, int stage = 0, int value = 0, int waitMs = 2500);

    // Settings that take effect without waiting for the link. A new
    // sampling rate is used by the next Start; a stream running at another
    // rate is restarted at it by the worker (setSamplingRate returns true
    // then, and a SetSamplingRate request waits for that restart). Both
    // return false with a message for a value out of range.
    bool setSamplingRate(int hz, bool &restartNeeded, QString &error);
    bool setEventRate(double perSecond, QString &error);

    ControllerSnapshot snapshot() const;
    std::vector<StreamSample> rawSamples() const;
    const ControllerOptions &options() const { return opts; }

    // Ends the thread (closing the link) and waits for it.
    void shutdown();

protected:
    void run() override;

private:
    struct Pending
    {
        Action action;
        int stage;
        int value;
        std::shared_ptr<RequestResult> result;
        std::shared_ptr<bool> done;
    };

    QString endpointText() const;
    void connectLink();
    void dropLink(const QString &reason);
    // Ends the link and forgets what belonged to it (lost samples are kept
    // in the total).
    void closeLink();
    // Announces (or withdraws) the threads of a link to the thread handler.
    void announceThreads(Controller &link, bool working);
    void setLinkStatus(ControllerSnapshot::Link link, const QString &text);
    void drainSamples(qint64 now);
    void pollStatus();
    void publishPeriod();
    // With the lock held: one set of range values a second to the headroom
    // tracker; forgetting it when a link opens or drops.
    void judgeHeadroom(const PeriodMeans &means, qint64 now);
    void forgetHeadroom();
    RequestResult carryOut(const Pending &p);
    RequestResult startStream(int rate);
    RequestResult stopStream();
    RequestResult restartAtRate();
    RequestResult stageCommand(Action action, int stage, int value);
    void readPFactors();
    void finish(const Pending &p, const RequestResult &r);
    Connection &link() const;

    const ControllerOptions opts;
    std::unique_ptr<Controller> controller;
    StreamStatistics statistics;
    HeadroomTracker headroom;     // under lock
    mutable QMutex lock;          // guards shown, statistics, queue
    QWaitCondition requestDone;
    ControllerSnapshot shown;
    std::deque<Pending> queue;
    std::atomic<bool> stopRequested{false};
    PeriodHandler periodHandler;
    ThreadHandler threadHandler;
    std::map<const Controller *, std::vector<const QThread *>> linkThreads; // worker thread only

    std::atomic<int> rate{100};          // Hz, for the next stream start
    std::atomic<double> eventRate{10};   // period means per second

    // Worker thread only.
    bool wantStreaming = false;
    int streamRate = 0;           // rate the running stream was started at
    qint64 nextAttempt = 0;
    qint64 nextStatusPoll = 0;
    qint64 nextPeriod = 0;
    qint64 lastSampleAt = 0;
    qint64 lostEarlier = 0;       // overwritten samples of earlier links (under lock)
    int missedPolls = 0;
};
