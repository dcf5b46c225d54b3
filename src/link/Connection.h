#pragma once

#include "link/StreamSample.h"

#include <QByteArray>
#include <QMutex>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

class QIODevice;
class QTimer;
class StreamPump;
class CommandRelay;
class SampleStore;

// One controller link. Each connection runs its own thread with an event
// loop in which the transport device lives and every byte from the
// controller is read. The user-interface thread posts commands into that
// thread (senders), then polls for the reply (waitForReply). While a stream
// runs the link thread decodes stream messages into the connection's store,
// from which the display takes them (takeSample).
//
// The reply handshake and the stream state are shared between the two
// threads without a lock: they are atomics. The link thread writes `reply`
// only while a reply is awaited and publishes it with replyState 2 (release
// ordering); the caller claims a published reply (state Taking) before it
// copies it, so the link thread never reuses the buffer under its feet.
//
// The protocol has no tags: a reply belongs to a command only by order. The
// link therefore drops stale input before it writes a command, and after a
// command went unanswered it treats the line as out of step: the next
// command (other than the stop, whose reader keeps only the trailing
// acknowledgement) is written only once the line has been quiet.
class Connection : public QThread
{
    Q_OBJECT
public:
    enum LinkState { Opening = 0, Failed = 1, Disconnected = 2, Connected = 3 };
    enum ReplyState { Idle = 0, Awaited = 1, Ready = 2, Taking = 3 }; // Taking: the caller copies the reply
    enum StreamCommand { NoStreamCommand = 0, StartOutstanding = 1, StopOutstanding = 2 };

    explicit Connection(QObject *parent = nullptr);
    ~Connection() override;

    // Transport operations.
    virtual QString address() const = 0;
    virtual bool isTcp() const = 0;
    virtual bool initialize(QString address, int parameter) = 0;
    virtual int parameter() const = 0;
    virtual void dispose();
    virtual void sendMessage(QByteArray message, int answerLength);
    virtual void resync() = 0;
    virtual void clearInput() = 0;

    // State, read from the user-interface thread.
    int linkState() const { return linkStateValue.load(std::memory_order_acquire); }
    bool isStreaming() const { return streaming.load(std::memory_order_acquire) != 0; }
    QString label() const;
    void setLabel(const QString &text);
    int samplingRate() const { return rate.load(std::memory_order_relaxed); }
    bool setSamplingRate(int value);
    int firmwareVersion() const { return firmware.load(std::memory_order_relaxed); }
    void setFirmwareVersion(int version) { firmware.store(version, std::memory_order_relaxed); }
    bool triggerCapable() const { return triggerCapableFlag.load(std::memory_order_relaxed); }
    void setTriggerCapable(bool capable) { triggerCapableFlag.store(capable, std::memory_order_relaxed); }
    bool isVariantM() const { return variantM.load(std::memory_order_relaxed); }
    void setVariantM(bool on) { variantM.store(on, std::memory_order_relaxed); }
    bool isTriggerMode() const { return triggerMode.load(std::memory_order_relaxed); }
    void setTriggerMode(bool on) { triggerMode.store(on, std::memory_order_relaxed); }
    int baseTimeout() const { return timeout; }

    // While a stream runs, the link thread does not wake for every message:
    // it stops watching the device and, once every this many ms, everything
    // that came in is read at once straight from the descriptor, by the
    // process's one stream pump (StreamPump) while the stream is plain, by
    // the link thread otherwise. Any command written returns the link to
    // reading every byte as it comes. 0 reads every message as it comes.
    // Takes effect at the next read.
    static constexpr int defaultStreamBatchInterval = 3;
    int streamBatchInterval() const { return batchInterval.load(std::memory_order_relaxed); }
    void setStreamBatchInterval(int ms) { batchInterval.store(ms < 0 ? 0 : ms, std::memory_order_relaxed); }

    // Times the stream reader had to skip bytes to find a message frame.
    int resynchronisations() const { return resyncCount.load(std::memory_order_relaxed); }
    // Samples the full store overwrote before anyone took them, since the
    // stream started. Safe to read from any thread at any time.
    qint64 droppedSamples() const;
    // The same since the link was made, across stream restarts.
    qint64 droppedSamplesTotal() const;

    bool takeSample(StreamSample &sample);
    // Moves up to maxCount of the oldest samples into out (one lock for the
    // batch) and returns how many; for consumers that drain many at a time.
    int takeSamples(StreamSample *out, int maxCount);
    int storedSamples() const;
    bool waitForReply(QByteArray &reply);
    bool disconnectLink();

    // Posts one raw command into the link thread (what every sender does).
    void postMessage(const QByteArray &message, int answerLength);

    // Senders, one per controller command. Arguments are the bytes after the
    // three-letter code, including the closing ';'.
    void clearLiveStream();
    void startStream(const QByteArray &arguments);
    void getStreamSample();
    void getStatusFlags();
    void getControllerId();
    void getActiveSignal();
    void getIntensity(const QByteArray &arguments);
    void getAdjustIn(const QByteArray &arguments);
    void setAdjustIn(const QByteArray &arguments);
    void getPFactor(const QByteArray &arguments);
    void setPFactor(const QByteArray &arguments);
    void getDetectorSensitivity(const QByteArray &arguments);
    void setDetectorSensitivity(const QByteArray &arguments);
    void startSetHold(const QByteArray &arguments);
    void clearSetHold(const QByteArray &arguments);
    void setTriggerFreeze(const QByteArray &arguments);
    void clearTriggerFreeze(const QByteArray &arguments);
    void setDriveActuator(const QByteArray &arguments);
    void setStabilizationOn(const QByteArray &arguments);
    void setStabilizationOff(const QByteArray &arguments);
    void setMultiplex(const QByteArray &arguments);
    void clearMultiplex(const QByteArray &arguments);
    void sendSSE(const QByteArray &arguments);
    void getCommonDetector();
    void getError();
    void readFram();
    void setBaudRate(const QByteArray &arguments);
    void sendLabel(const QString &text);

    // Milliseconds on a monotonic clock; all deadlines are measured with it.
    static qint64 now();

    // Called by the relay after the link thread has handled a posted
    // command (written or dropped it).
    void commandHandled() { handledCommands.fetch_add(1, std::memory_order_release); }

    // Quiet time the line needs after an unanswered command before the
    // next command is written, and how long the link waits for it.
    int quietTime() const { return timeout / 2; }
    int quietWaitLimit() const { return timeout; }

signals:
    void hostDisconnected(QString address);

public slots:
    virtual void saveReply();

protected:
    // For the transports' thread bodies: the device and the relay object
    // exist only while the thread runs.
    void attachDevice(QIODevice *newDevice);
    void detachDevice();
    void createTrigger();
    void destroyTrigger();
    void connectReader();
    void disconnectReader();
    // Resynchronisation of a transport: reads and drops input byte by byte
    // for at most one second until a whole status reply (0x00 ';' flags ';')
    // or an error answer (0x01 ';') has gone by.
    // Runs in the link thread (the caller waits for it, at most a little
    // over a second): writes "GSF;" when queryStatus is set and the link is
    // not streaming, then drops input. A status reply found this way is
    // published as the reply to that query.
    void resynchronise(bool queryStatus);
    // Last call of a thread body: everything it did happens before the
    // waiter in disconnectLink or the destructor sees the thread ended.
    void threadBodyFinished();
    QIODevice *currentDevice() const { return device.load(std::memory_order_acquire); }
    void setLinkState(int state) { linkStateValue.store(state, std::memory_order_release); }

    // Ends the link thread (at most 1500 checks of 10 ms). A transport's
    // destructor calls it first, so the thread never runs on a half
    // destroyed object.
    void stopLinkThread();

    const int timeout = 750; // base time-out in ms; every other one derives from it

private:
    friend class StreamPump;
    bool post(const QByteArray &message, int answerLength);
    void sendCommand(const QByteArray &command); // posts with the command's answer length
    void waitUntilHandled();
    void readReply(QIODevice *dev);
    void readStopReply(QIODevice *dev);
    void readStream(QIODevice *dev);
    // NotPlain: plainOnly decoding stopped in front of a message start it
    // leaves to the link thread (garbage, a last or an ignored message).
    enum class ChunkEnd { Drained, OutOfFrame, LastMessage, NotPlain };
    ChunkEnd decodeAvailable(QIODevice *dev, bool withFlags, bool skipIgnored);
    ChunkEnd decodeBytes(const char *bytes, qint64 size, bool withFlags, bool skipIgnored, qint64 &consumed,
                         bool plainOnly = false);
    static constexpr size_t batchReadSize = 8192; // bytes per read of the descriptor
    bool readHeldDescriptor(size_t &size);
    bool collectHeldBytes();
    // Stream pump hand-over (see StreamPump). pumpStream and
    // handBackFromPump run in the pump's thread under its lock.
    void handToPump();
    void takeBackFromPump();
    // The socket the pump may receive from for this link (-1: pumpStream
    // reads the descriptor itself), and where to put up to batchReadSize
    // bytes received for pumpStream(received) to decode.
    int pumpSocket() const;
    char *pumpReadArea();
    static constexpr long notRead = -(1L << 40); // received: the pump did not read
    bool pumpStream(long received = notRead);
    void handBackFromPump(unsigned ticket);
    void pumpHandedBack(unsigned ticket);
    void startBatchTimer(int interval);
    void giveBackHeldBytes();
    void collectStreamLater(QIODevice *dev);
    void readEveryByte();
    void advanceBatch();
    void takeHeldStreamBytes();
    QSocketNotifier *readNotifierOf(QIODevice *dev);
    void finishStream(QIODevice *dev);
    bool stopPendingOnOldFirmware() const;
    bool waitForBytes(QIODevice *dev, qint64 count);
    bool waitForQuietLine(QIODevice *dev);
    void claimReplyBuffer();
    void deliverReply(const QByteArray &bytes);
    void discardUnsolicited(QIODevice *dev);
    void resyncInLinkThread(bool queryStatus);
    bool stopConfirmedWithoutLastMessage(QIODevice *dev);
    bool waitForThreadEnd(int &checksLeft);

    std::atomic<int> streaming{0};
    std::atomic<QIODevice *> device{nullptr};
    std::atomic<bool> deviceOpen{false};
    std::atomic<int> linkStateValue{Opening};
    qint64 replyDeadline = -1; // user-interface thread
    qint64 readDeadline = 0;   // link thread
    std::atomic<int> replyState{Idle};
    std::atomic<int> streamCommandState{NoStreamCommand};
    CommandRelay *commandRelay = nullptr; // guarded by relayLock
    QMutex relayLock;                      // keeps the relay alive while a command is posted
    int answerLength = 0;             // link thread
    bool readerRunning = false;       // link thread: saveReply is on the stack
    bool replyReaderActive = false;   // link thread: a reply reader is on the stack
    unsigned commandsWritten = 0;     // link thread
    QByteArray reply;                 // written by the link thread only while a reply is awaited
    std::atomic<qint64> writtenAt{0}; // when the command in flight was written
    std::atomic<bool> outOfStep{false}; // a late reply may still be on its way
    std::atomic<unsigned> resyncRuns{0}; // resynchronisations finished in the link thread
    std::atomic<bool> variantM{false};
    std::atomic<bool> triggerMode{false};
    std::atomic<bool> triggerCapableFlag{false};
    std::atomic<int> rate{-1};
    std::atomic<int> firmware{1};
    // Commands posted by the caller and handled by the link thread. A
    // caller that looks for its reply before the link thread has even seen
    // the command (a busy machine can delay it beyond the 1 ms pause) waits
    // for it instead of taking the command for dropped.
    std::atomic<int> resyncCount{0};
    std::atomic<unsigned> postedCommands{0};
    std::atomic<unsigned> handledCommands{0};
    mutable QMutex labelLock; // the link thread reads the label for its closing log line
    QString labelText;
    bool linkThreadStopped = false;
    std::unique_ptr<SampleStore> store;
    // Link thread: stream bytes and samples of one read (grown, never
    // shrunk), the batching timer and the read notifier it holds off.
    std::vector<char> streamBytes;
    size_t heldStreamBytes = 0; // the start of a message at the front of streamBytes, kept for the next batch
    int directFd = -1;          // descriptor the batch reader reads; -1: read through the device
    std::vector<StreamSample> streamBatch;
    QTimer *batchTimer = nullptr;
    // Guarded pointers: the socket layer may delete its notifier (on a
    // disconnect) while it is held.
    QPointer<QSocketNotifier> heldNotifier;
    QPointer<QSocketNotifier> holdPending; // to be held from the next timer event
    QIODevice *notifierDevice = nullptr;
    QPointer<QSocketNotifier> deviceNotifier;
    std::atomic<int> batchInterval{defaultStreamBatchInterval};
    bool pumped = false;     // link thread: the pump reads the stream
    unsigned pumpTicket = 0; // link thread: counts hand-overs, so a stale hand-back is ignored
    int pumpedInterval = 0;  // the batch interval the stream was handed over with
    const unsigned batchSlot; // which millisecond of the interval this link's batches fall on

protected:
    int linkParameter = -1; // baud rate of a serial link
};
