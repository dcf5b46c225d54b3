#include "RecordMetadata.h"

#include "app/StartupFlags.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

QString detectorName(int type)
{
    switch (type) {
    case DetectorQD: return QStringLiteral("4QD");
    case DetectorPSD: return QStringLiteral("PSD");
    case DetectorWID: return QStringLiteral("WID");
    case DetectorPSD_UV4: return QStringLiteral("PSD UV 4 mm");
    case DetectorPSD_UV10: return QStringLiteral("PSD UV 10 mm");
    default: return QStringLiteral("none");
    }
}

QJsonObject stage(int number, const Detector &model)
{
    return QJsonObject{
        {"stage", number},
        {"detectorType", model.type()},
        {"detector", detectorName(model.type())},
        {"calculation", model.calculation},
        {"unit", model.unitText()},
        {"beamDiameterUm", model.beamDiameter},
        {"positionDecimals", model.recordDecimals()},
    };
}

QString isoTime(const QDateTime &t)
{
    return t.isValid() ? t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs) : QString();
}

} // namespace

QString RecordMetadata::pathFor(const QString &recordingPath)
{
    return recordingPath + QStringLiteral(".json");
}

QByteArray RecordMetadata::toJson(const QString &recordingPath) const
{
    QJsonObject o{
        {"file", QFileInfo(recordingPath).fileName()},
        {"programVersion", QString::fromLatin1(programVersion)},
        {"programBuild", QString::fromLatin1(programBuild)},
        {"controller", QJsonObject{{"id", controllerId}, {"label", label}, {"address", address}, {"firmware", firmware}}},
        {"samplingRateHz", samplingRate},
        {"triggerMode", samplingRate == 1000},
        {"saveRateHz", saveRate},
        {"decimation", decimation},
        {"triggerDisplay", detectors.triggerDisplay},
        {"stages", QJsonArray{stage(1, *detectors.stage1()), stage(2, *detectors.stage2())}},
        {"columns", QJsonArray{"ms", "X1", "Y1", "I1", "X2", "Y2", "I2", "RX1", "RY1", "RX2", "RY2"}},
        {"start", isoTime(start)},
        {"recording", !finished},
    };
    if (finished) {
        o.insert("stop", isoTime(stop));
        o.insert("linesWritten", double(linesWritten));
        o.insert("samplesDroppedByStore", double(samplesDroppedByStore));
        o.insert("linesLost", double(linesLost));
        o.insert("samplesSkipped", double(samplesDroppedByStore + linesLost));
        o.insert("error", error);
    }
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

bool RecordMetadata::write(const QString &recordingPath, QString *errorText) const
{
    QSaveFile file(pathFor(recordingPath));
    if (!file.open(QIODevice::WriteOnly) || file.write(toJson(recordingPath)) < 0 || !file.commit()) {
        if (errorText)
            *errorText = file.errorString();
        return false;
    }
    return true;
}
