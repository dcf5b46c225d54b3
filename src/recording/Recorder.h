#pragma once

#include "RecordMetadata.h"
#include "link/StreamSample.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <functional>
#include <memory>

class RecordFile;
class StageDetectors;

// One displayed controller handed to Recorder::start, in display order.
struct RecordSource
{
    int connection = -1;              // index in the main window's connection list
    RecordMetadata info;              // controller, label, detectors (rates are filled in by start)
    qint64 storeDroppedAtStart = 0;   // the store's drop counter when the recording starts
};

// The recording hand-off of the display tick: decides which samples are
// written (one in every sampling rate / save rate samples per controller,
// every sample of a controller in trigger display mode), keeps each
// controller's first-sample time, and owns the recording files.
//
// Each file is bound to the controller it was opened for, so a change of the
// display order, or a controller removed while recording, never mixes two
// controllers in one file. Without "one file per controller" only the first
// source (the active controller) is recorded.
//
// Buffered lines reach the file at least once a second (an internal timer of
// the thread the recorder lives in, plus every full buffer). A write error
// closes that file cut back to its last complete line and emits writeFailed;
// the caller is expected to stop the recording then.
class Recorder : public QObject
{
    Q_OBJECT
public:
    // Asked before an existing per-controller file is overwritten; false
    // refuses the start. The default overwrites.
    using OverwriteQuestion = std::function<bool(const QString &file)>;
    // The store's drop counter of a connection, read when the recording stops.
    using DropCounter = std::function<qint64(int connection)>;

    static constexpr int flushIntervalMs = 250; // the timer's period
    static constexpr int maxLineAgeMs = 500;    // older buffered lines are written out

    explicit Recorder(QObject *parent = nullptr);
    ~Recorder() override;

    void setOverwriteQuestion(OverwriteQuestion question) { m_overwriteQuestion = std::move(question); }

    // Opens the file of every source (only of the first without multiSave) at
    // path, or at the per-controller names (a label met twice gets the
    // display position added: run_A.csv, run_A_2.csv), writes the headers
    // and the metadata. The save rate is lowered to the sampling rate when above it.
    // False when a file cannot be opened, a per-controller file may not be
    // overwritten, there is no source or the save rate is below 1: nothing
    // is recording then and errorString() says why. A start while recording
    // is refused too.
    bool start(const QString &path, bool multiSave, const QVector<RecordSource> &sources, int samplingRate,
               int saveRate);

    // One sample of a connection, in arrival order, with that connection's
    // current detector models and trigger display flag. Writes a line when
    // one is due. Samples of connections that are not recorded are ignored.
    void offer(int connection, const StreamSample &sample, const StageDetectors &detectors);

    // Writes buffered lines older than maxLineAgeMs (also run by the timer).
    void flushDue();

    // Writes what is buffered, closes every file and completes the metadata.
    // dropped gives each connection's store drop counter now (optional).
    void stop(const DropCounter &dropped = DropCounter());

    // The connection at this index is going away: its file is closed and the
    // connections after it move down by one, as in the window's lists.
    void removeConnection(int connection, qint64 storeDroppedNow = 0);

    // The controller at this index went away during the recording: its file
    // is closed with reason as the metadata's error, while the other files
    // go on and no index moves. False when it was not being recorded.
    bool endConnection(int connection, qint64 storeDroppedNow, const QString &reason);
    // Whether this connection's samples are being written.
    bool isRecorded(int connection) const
    {
        return connection >= 0 && connection < m_channelOf.size() && m_channelOf[connection] >= 0;
    }

    bool isRecording() const { return !m_channels.isEmpty(); }
    int fileCount() const { return m_channels.size(); }
    bool multiSave() const { return m_multiSave; }
    int saveRate() const { return m_saveRate; }
    int decimation() const { return m_decimation; }
    QString errorString() const { return m_error; }
    QStringList filePaths() const;
    qint64 linesWritten() const;   // over all files, including buffered lines

signals:
    // A file could not be written; message names the file and the reason.
    void writeFailed(const QString &message);

private:
    struct Channel;
    void closeChannel(Channel &channel, qint64 storeDroppedNow, const QString &reason);
    void reportFailure(Channel &channel);
    void rebuildIndex();

    QVector<std::shared_ptr<Channel>> m_channels;
    QVector<int> m_channelOf; // connection index -> channel index or -1
    OverwriteQuestion m_overwriteQuestion;
    QTimer m_flushTimer;
    bool m_multiSave = false;
    int m_saveRate = 0;
    int m_decimation = 1;
    QString m_error;
};
