#pragma once

// Helpers shared by the setup file tests: files in a temporary data
// directory, records described field by field, and the device structure of
// a written file.

#include "app/StartupFlags.h"
#include "setup/Settings.h"

#include <QDomDocument>
#include <QFile>
#include <QTemporaryDir>
#include <QVariantMap>

namespace setuptest {

inline QByteArray setupXml(const QByteArray &devices)
{
    return "<!DOCTYPE SetupML>\n<ORX_Beam_Stabilization>\n" + devices + "</ORX_Beam_Stabilization>\n";
}

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QString colorName(const QColor &color)
{
    return color.isValid() ? color.name() : QStringLiteral("invalid");
}

// Every field of a record by its name; stage fields carry the suffix 1 or 2.
inline QVariantMap describe(const ConnectionSettings &r)
{
    QVariantMap m;
    m["type"] = r.type;
    m["label"] = fixedText(r.label);
    m["name"] = fixedText(r.name);
    m["portOrBaud"] = r.portOrBaud;
    m["position"] = r.position;
    m["group"] = r.group;
    m["autoConnect"] = r.autoConnect;
    m["id"] = fixedText(r.id);
    m["key"] = fixedText(r.key);
    m["colorX"] = colorName(r.colorX);
    m["colorY"] = colorName(r.colorY);
    m["colorI"] = colorName(r.colorI);
    m["commonColorX"] = colorName(r.commonColorX);
    m["commonColorY"] = colorName(r.commonColorY);
    m["commonColorI"] = colorName(r.commonColorI);
    m["pulsedLaser"] = r.pulsedLaser;
    for (int s = 0; s < 2; ++s) {
        const QString n = QString::number(s + 1);
        m["model" + n] = r.model[s];
        m["beamDiameter" + n] = r.beamDiameter[s];
        m["calculation" + n] = r.calculation[s];
    }
    return m;
}

// Fails the calling test (returning false) on the first differing field.
inline bool sameFields(const QVariantMap &actual, const QVariantMap &expected, QString *difference)
{
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!actual.contains(it.key()) || actual.value(it.key()) != it.value()) {
            *difference = QStringLiteral("%1: got '%2', expected '%3'")
                              .arg(it.key(), actual.value(it.key()).toString(), it.value().toString());
            return false;
        }
    }
    return true;
}

inline ConnectionSettings record(const QString &id, const QString &name, int type, int portOrBaud)
{
    ConnectionSettings r;
    setFixedText(r.id, id);
    setFixedText(r.name, name);
    r.type = type;
    r.portOrBaud = portOrBaud;
    return r;
}

// "Device_A: Settings DisplayColors ..." for each device element, in order.
inline QStringList structure(const QString &path)
{
    QDomDocument document;
    if (!document.setContent(readFile(path)))
        return {QStringLiteral("unparsable")};
    QStringList result;
    const QDomElement root = document.documentElement();
    for (QDomElement device = root.firstChildElement(); !device.isNull(); device = device.nextSiblingElement()) {
        QStringList children;
        for (QDomElement c = device.firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
            children << c.tagName();
        result << device.tagName() + ": " + children.join(' ');
    }
    return result;
}

// Attributes of the first element named `child` of the device element
// `device`; empty when there is no such element.
inline QVariantMap attributes(const QString &path, const QString &device, const QString &child)
{
    QDomDocument document;
    document.setContent(readFile(path));
    const QDomElement e = document.documentElement().firstChildElement(device).firstChildElement(child);
    QVariantMap result;
    const QDomNamedNodeMap map = e.attributes();
    for (int i = 0; i < map.count(); ++i)
        result[map.item(i).nodeName()] = map.item(i).nodeValue();
    return result;
}

} // namespace setuptest

#define COMPARE_FIELDS(actual, expected)                                        \
    do {                                                                        \
        QString difference_;                                                    \
        QVERIFY2(setuptest::sameFields(actual, expected, &difference_),         \
                 qPrintable(difference_));                                      \
    } while (false)
