#pragma once

#include "detectors/StageDetectors.h"

#include <QDateTime>
#include <QString>

// What a person needs to analyse a recording later, written as
// "<recording>.json" beside the recording file: the controller, the rates,
// each stage's detector model and unit, the start and, once the recording
// has ended, the lines written and the samples that were skipped.
struct RecordMetadata
{
    // Controller
    QString controllerId;
    QString label;
    QString address;
    int firmware = 0;
    // Rates
    int samplingRate = 0; // Hz; 1000 = one sample per trigger pulse
    int saveRate = 0;     // Hz
    int decimation = 1;   // one line per this many samples
    StageDetectors detectors; // models at the start of the recording
    QDateTime start;
    // Filled in when the recording ends
    bool finished = false;
    QDateTime stop;
    qint64 linesWritten = 0;
    qint64 samplesDroppedByStore = 0; // arrived faster than they were taken
    qint64 linesLost = 0;             // due but not written (write error)
    QString error;                    // why the recording ended early, if it did

    // Path of the metadata file of a recording file.
    static QString pathFor(const QString &recordingPath);
    QByteArray toJson(const QString &recordingPath) const;
    // Writes pathFor(recordingPath); false with a reason on failure.
    bool write(const QString &recordingPath, QString *error = nullptr) const;
};
