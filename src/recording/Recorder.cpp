#include "Recorder.h"

#include "RecordFile.h"
#include "RecordFormat.h"
#include "RecordNames.h"
#include "detectors/StageDetectors.h"

#include <QFileInfo>

struct Recorder::Channel
{
    int connection = -1;
    std::unique_ptr<RecordFile> file;
    RecordMetadata info;
    qint64 storeDroppedAtStart = 0;
    int countdown = 1;
    qint32 startTime = 0;
    bool firstSample = true;
    bool opened = false;
    bool failureReported = false;
};

Recorder::Recorder(QObject *parent) : QObject(parent)
{
    m_flushTimer.setInterval(flushIntervalMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &Recorder::flushDue);
}

Recorder::~Recorder()
{
    stop();
}

bool Recorder::start(const QString &path, bool multiSave, const QVector<RecordSource> &sources, int samplingRate,
                     int saveRate)
{
    m_error.clear();
    if (isRecording()) {
        m_error = tr("A recording is already running.");
        return false;
    }
    if (sources.isEmpty()) {
        m_error = tr("No controller is displayed.");
        return false;
    }
    if (saveRate < 1 || samplingRate < 1) {
        m_error = tr("The save rate must be at least 1 Hz.");
        return false;
    }
    m_multiSave = multiSave;
    m_saveRate = qMin(saveRate, samplingRate);
    m_decimation = samplingRate / m_saveRate;

    const QDateTime now = QDateTime::currentDateTime();
    const int count = multiSave ? sources.size() : 1;
    for (int d = 0; d < count; ++d) {
        const RecordSource &source = sources[d];
        QString file = path;
        if (multiSave) {
            file = RecordNames::controllerPath(path, source.info.label);
            // Two controllers with the same label must not share a file.
            if (filePaths().contains(file))
                file = RecordNames::controllerPath(path, source.info.label + '_' + QString::number(d + 1));
            if (QFileInfo::exists(file) && m_overwriteQuestion && !m_overwriteQuestion(file)) {
                m_error = tr("File %1 already exists and was kept.").arg(file);
                stop();
                return false;
            }
        }
        auto channel = std::make_shared<Channel>();
        channel->connection = source.connection;
        channel->info = source.info;
        channel->info.samplingRate = samplingRate;
        channel->info.saveRate = m_saveRate;
        channel->info.decimation = m_decimation;
        channel->info.start = now;
        channel->storeDroppedAtStart = source.storeDroppedAtStart;
        channel->countdown = m_decimation;
        channel->file = std::make_unique<RecordFile>(file);
        const StageDetectors &models = channel->info.detectors;
        m_channels.append(channel);
        if (!channel->file->open(RecordFormat::header(now, *models.stage1(), *models.stage2()))) {
            m_error = tr("Cannot open file %1: %2").arg(file, channel->file->errorString());
            stop();
            return false;
        }
        channel->opened = true;
        QString why;
        if (!channel->info.write(file, &why)) {
            m_error = tr("Cannot write file %1: %2").arg(RecordMetadata::pathFor(file), why);
            stop();
            return false;
        }
    }
    rebuildIndex();
    m_flushTimer.start();
    return true;
}

void Recorder::offer(int connection, const StreamSample &sample, const StageDetectors &detectors)
{
    if (connection < 0 || connection >= m_channelOf.size())
        return;
    const int index = m_channelOf[connection];
    if (index < 0)
        return;
    Channel &channel = *m_channels[index];
    if (channel.countdown != m_decimation && !detectors.triggerDisplay) {
        ++channel.countdown;
        return;
    }
    channel.countdown = 1;
    if (channel.firstSample) {
        channel.startTime = sample.time;
        channel.firstSample = false;
    }
    const quint32 ms = quint32(sample.time) - quint32(channel.startTime);
    if (!channel.file->appendLine(ms, sample, *detectors.stage1(), *detectors.stage2()))
        reportFailure(channel);
}

void Recorder::flushDue()
{
    // A failure emits a signal whose receiver may stop the recording.
    const auto channels = m_channels;
    for (const auto &channel : channels)
        if (!channel->file->flushIfOlderThan(maxLineAgeMs))
            reportFailure(*channel);
}

void Recorder::stop(const DropCounter &dropped)
{
    m_flushTimer.stop();
    const auto channels = m_channels;
    m_channels.clear();
    m_channelOf.clear();
    for (int i = channels.size() - 1; i >= 0; --i) {
        Channel &channel = *channels[i];
        closeChannel(channel, dropped ? dropped(channel.connection) : channel.storeDroppedAtStart, QString());
    }
}

void Recorder::removeConnection(int connection, qint64 storeDroppedNow)
{
    for (int i = m_channels.size() - 1; i >= 0; --i) {
        Channel &channel = *m_channels[i];
        if (channel.connection == connection) {
            closeChannel(channel, storeDroppedNow, tr("The controller was removed during the recording."));
            m_channels.removeAt(i);
        } else if (channel.connection > connection) {
            --channel.connection;
        }
    }
    rebuildIndex();
    if (m_channels.isEmpty())
        m_flushTimer.stop();
}

bool Recorder::endConnection(int connection, qint64 storeDroppedNow, const QString &reason)
{
    if (!isRecorded(connection))
        return false;
    const int index = m_channelOf[connection];
    closeChannel(*m_channels[index], storeDroppedNow, reason);
    m_channels.removeAt(index);
    rebuildIndex();
    if (m_channels.isEmpty())
        m_flushTimer.stop();
    return true;
}

QStringList Recorder::filePaths() const
{
    QStringList paths;
    for (const auto &channel : m_channels)
        paths << channel->file->path();
    return paths;
}

qint64 Recorder::linesWritten() const
{
    qint64 lines = 0;
    for (const auto &channel : m_channels)
        lines += channel->file->linesWritten() + channel->file->linesPending();
    return lines;
}

void Recorder::closeChannel(Channel &channel, qint64 storeDroppedNow, const QString &reason)
{
    RecordFile &file = *channel.file;
    file.close();
    if (!channel.opened)
        return; // never created: no metadata to complete
    channel.info.finished = true;
    channel.info.stop = QDateTime::currentDateTime();
    channel.info.linesWritten = file.linesWritten();
    channel.info.linesLost = file.linesLost();
    channel.info.samplesDroppedByStore = qMax<qint64>(0, storeDroppedNow - channel.storeDroppedAtStart);
    channel.info.error = file.failed() ? file.errorString() : reason;
    channel.info.write(file.path());
}

void Recorder::reportFailure(Channel &channel)
{
    if (channel.failureReported || !channel.file->failed())
        return;
    channel.failureReported = true;
    emit writeFailed(tr("Data recording stopped: cannot write to file %1: %2.\n"
                        "Every complete line up to the error is kept.")
                         .arg(channel.file->path(), channel.file->errorString()));
}

void Recorder::rebuildIndex()
{
    int highest = -1;
    for (const auto &channel : m_channels)
        highest = qMax(highest, channel->connection);
    m_channelOf.fill(-1, highest + 1);
    for (int i = 0; i < m_channels.size(); ++i)
        if (m_channels[i]->connection >= 0)
            m_channelOf[m_channels[i]->connection] = i;
}
