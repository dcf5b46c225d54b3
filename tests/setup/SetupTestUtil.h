#pragma once

// Setup files and connection records in tests: files written and read back,
// and the fields of a record compared by name as one text.

#include "setup/ConnectionSettings.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QVariantMap>

inline QByteArray setupXml(const QByteArray &devices)
{
    return "<!DOCTYPE SetupML>\n<ORX_Beam_Stabilization>\n" + devices + "</ORX_Beam_Stabilization>\n";
}

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline ConnectionSettings record(const QString &id, const QString &name = QString(), int type = Serial, int portOrBaud = 0,
                                 const QString &label = QString(), bool autoConnect = false)
{
    ConnectionSettings r;
    r.id = id;
    r.name = name;
    r.label = label;
    r.type = type;
    r.portOrBaud = portOrBaud;
    r.autoConnect = autoConnect;
    return r;
}

// Every field of a record by name; stage fields carry the suffix 1 or 2.
inline QVariantMap fieldMap(const ConnectionSettings &r)
{
    auto color = [](const QColor &c) { return c.isValid() ? c.name() : QStringLiteral("invalid"); };
    return QVariantMap{{"type", r.type}, {"label", r.label}, {"name", r.name}, {"portOrBaud", r.portOrBaud},
                       {"position", r.position}, {"group", r.group}, {"autoConnect", r.autoConnect}, {"id", r.id},
                       {"key", r.key}, {"colorX", color(r.colorX)}, {"colorY", color(r.colorY)}, {"colorI", color(r.colorI)},
                       {"commonColorX", color(r.commonColorX)}, {"commonColorY", color(r.commonColorY)}, {"commonColorI", color(r.commonColorI)},
                       {"pulsedLaser", r.pulsedLaser}, {"model1", r.model[0]}, {"beamDiameter1", QString::number(r.beamDiameter[0], 'g', 15)},
                       {"calculation1", r.calculation[0]}, {"model2", r.model[1]}, {"beamDiameter2", QString::number(r.beamDiameter[1], 'g', 15)},
                       {"calculation2", r.calculation[1]}};
}

// "name=value;..." of the fields of r that `expected` ("model1=1;key=A") names.
inline QString fieldsNamedIn(const QString &expected, const ConnectionSettings &r)
{
    const QVariantMap m = fieldMap(r);
    QStringList out;
    for (const QString &name : QString(expected).remove(QRegularExpression("=[^;]*")).split(';'))
        out << name + '=' + m.value(name, QStringLiteral("<none>")).toString();
    return out.join(';');
}

// Compares the fields named in `expected` ("model1=1;key=A") with record's.
#define CHECK_FIELDS(record, expected) QCOMPARE(fieldsNamedIn(expected, record), QString(expected))
