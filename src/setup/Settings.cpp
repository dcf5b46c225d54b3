#include "setup/Settings.h"

#include "app/StartupFlags.h"

#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

const QString rootName = QStringLiteral("ORX_Beam_Stabilization");
const QString documentType = QStringLiteral("SetupML");
const QString devicePrefix = QStringLiteral("Device_");
const int devicePrefixLength = 7;

// ---- reading and checking the file ----

// Reads at most maximumFileSize bytes of an open file; false when it holds
// more (a device file such as /dev/zero never ends, so size() is not used).
bool readBounded(QFile &file, QByteArray &content)
{
    content = file.read(Settings::maximumFileSize + 1);
    if (content.size() > Settings::maximumFileSize) {
        qWarning().noquote() << "Setup file" << file.fileName() << "is larger than"
                             << Settings::maximumFileSize << "bytes";
        return false;
    }
    return true;
}

// Deepest element nesting of a document, counted lexically: every "<name"
// opens an element, every "</" and every "/>" closes one; comments,
// processing instructions, CDATA sections and declarations are skipped. Used
// for text the streaming reader cannot follow, so that a deep tree is
// refused even where the readers disagree about what is well-formed.
int lexicalDepth(const QByteArray &content)
{
    int depth = 0;
    int deepest = 0;
    const int n = content.size();
    auto skipPast = [&content](int from, const char *end) {
        const int at = content.indexOf(end, from);
        return at < 0 ? content.size() : at + int(qstrlen(end));
    };
    for (int i = 0; i < n; ++i) {
        const char c = content.at(i);
        if (c == '/' && i + 1 < n && content.at(i + 1) == '>') {
            --depth;
            continue;
        }
        if (c != '<' || i + 1 >= n)
            continue;
        const char next = content.at(i + 1);
        if (content.mid(i, 4) == "<!--") {
            i = skipPast(i + 4, "-->") - 1;
        } else if (content.mid(i, 9) == "<![CDATA[") {
            i = skipPast(i + 9, "]]>") - 1;
        } else if (next == '?') {
            i = skipPast(i + 2, "?>") - 1;
        } else if (next == '!') {
            i = skipPast(i + 2, ">") - 1;
        } else if (next == '/') {
            --depth;
        } else {
            deepest = std::max(deepest, ++depth);
        }
    }
    return deepest;
}

// The document model builds and frees its tree recursively, so an absurdly
// deep file could exhaust the stack. A streaming pass, which keeps no tree,
// checks the depth first. It reads names as the document parser does
// (without namespace processing, so "Device_SN:1234" is a plain name); text
// it cannot follow is measured lexically and otherwise left to the parser
// to judge.
bool nestingWithinLimit(const QByteArray &content, QString &error)
{
    QXmlStreamReader reader(content);
    reader.setNamespaceProcessing(false);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (++depth > Settings::maximumNestingDepth)
                break;
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    if (depth <= Settings::maximumNestingDepth
        && (!reader.hasError() || lexicalDepth(content) <= Settings::maximumNestingDepth))
        return true;
    error = QStringLiteral("elements nested deeper than %1").arg(Settings::maximumNestingDepth);
    return false;
}

// Parses a setup document; false unless it is well-formed, within the
// limits and has the right root element.
bool parseSetup(const QByteArray &content, QDomDocument &document, const QString &fileName)
{
    QString error;
    if (!nestingWithinLimit(content, error)) {
        qWarning().noquote() << "Setup file" << fileName << "is not readable:" << error;
        return false;
    }
    int line = 0;
    int column = 0;
    if (!document.setContent(content, &error, &line, &column)) {
        qWarning().noquote() << "Setup file" << fileName << "could not be parsed:" << error
                             << "at line" << line << "column" << column;
        return false;
    }
    if (document.documentElement().tagName() != rootName) {
        qWarning().noquote() << "Setup file" << fileName << "has the root element"
                             << document.documentElement().tagName() << "instead of" << rootName;
        return false;
    }
    return true;
}

// ---- names and texts written to the file ----

// Device key as used in element names: characters an XML name cannot carry
// become '_', and the result is cut to the length of a device key.
QString normalizedKey(const QString &key)
{
    QString result = key;
    for (QChar &c : result) {
        const ushort u = c.unicode();
        const bool allowed = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z')
                             || (u >= '0' && u <= '9') || u == '_' || u == '-' || u == '.';
        if (!allowed)
            c = QLatin1Char('_');
    }
    return result.left(deviceKeyLength);
}

// Key under which a record is written: derived from its controller ID, or
// the stored key of a detector-only record that has no ID.
QString recordKey(const ConnectionSettings &record)
{
    const QString id = record.id;
    return normalizedKey(id.isEmpty() ? record.key : deviceKey(id));
}

// Attribute text with the characters XML 1.0 cannot carry replaced by '?'.
QString xmlText(const QString &text)
{
    QString result = text;
    for (int i = 0; i < result.size(); ++i) {
        const QChar c = result.at(i);
        const ushort u = c.unicode();
        bool allowed = u >= 0x20 || u == '\t' || u == '\n' || u == '\r';
        if (u == 0xfffe || u == 0xffff)
            allowed = false;
        if (c.isHighSurrogate() && i + 1 < result.size() && result.at(i + 1).isLowSurrogate()) {
            ++i; // a valid pair
            continue;
        }
        if (c.isSurrogate())
            allowed = false;
        if (!allowed)
            result[i] = QLatin1Char('?');
    }
    return result;
}

QString colorText(const QColor &color)
{
    return color.isValid() ? color.name() : QStringLiteral("#000000");
}

QString numberText(double value)
{
    return QString::number(value, 'g', 16);
}

void setTextAttribute(QDomElement &element, const QString &name, const QString &value)
{
    element.setAttribute(name, xmlText(value));
}

// ---- record to elements ----

QDomElement connectionElement(QDomDocument &document, const ConnectionSettings &record)
{
    QDomElement settings = document.createElement(QStringLiteral("Settings"));
    setTextAttribute(settings, QStringLiteral("name"), record.name);
    settings.setAttribute(QStringLiteral("type"), QString::number(record.type));
    setTextAttribute(settings, QStringLiteral("label"), record.label);
    setTextAttribute(settings, QStringLiteral("id"), record.id);
    settings.setAttribute(QStringLiteral("autoConnect"), record.autoConnect ? QStringLiteral("1") : QStringLiteral("0"));
    if (record.type == Tcp)
        settings.setAttribute(QStringLiteral("port"), QString::number(record.portOrBaud));
    else
        settings.setAttribute(QStringLiteral("baudrate"), QString::number(record.portOrBaud));
    return settings;
}

QDomElement colorElement(QDomDocument &document, const ConnectionSettings &record)
{
    QDomElement colors = document.createElement(QStringLiteral("DisplayColors"));
    colors.setAttribute(QStringLiteral("colorX"), colorText(record.colorX));
    colors.setAttribute(QStringLiteral("colorY"), colorText(record.colorY));
    colors.setAttribute(QStringLiteral("colorI"), colorText(record.colorI));
    return colors;
}

void setDetectorAttributes(QDomElement &element, const ConnectionSettings &record, int stage)
{
    element.setAttribute(QStringLiteral("beamDiameter"), numberText(record.beamDiameter[stage]));
    element.setAttribute(QStringLiteral("model"), QString::number(record.model[stage]));
    element.setAttribute(QStringLiteral("calculation"), QString::number(record.calculation[stage]));
}

void setGeneralAttributes(QDomElement &element, const ConnectionSettings &record)
{
    element.setAttribute(QStringLiteral("pulsedLaser"), record.pulsedLaser ? QStringLiteral("1") : QStringLiteral("0"));
}

QString detectorElementName(int stage)
{
    return stage == 0 ? QStringLiteral("Detector1") : QStringLiteral("Detector2");
}

void appendDetectorElements(QDomDocument &document, QDomElement &device, const ConnectionSettings &record)
{
    for (int stage = 0; stage < 2; ++stage) {
        QDomElement detector = document.createElement(detectorElementName(stage));
        setDetectorAttributes(detector, record, stage);
        device.appendChild(detector);
    }
    QDomElement general = document.createElement(QStringLiteral("General"));
    setGeneralAttributes(general, record);
    device.appendChild(general);
}

void updateDetectorElements(QDomElement &device, const ConnectionSettings &record)
{
    for (int stage = 0; stage < 2; ++stage) {
        QDomElement detector = device.firstChildElement(detectorElementName(stage));
        if (!detector.isNull())
            setDetectorAttributes(detector, record, stage);
    }
    QDomElement general = device.firstChildElement(QStringLiteral("General"));
    if (!general.isNull())
        setGeneralAttributes(general, record);
}

// ---- elements to record ----

int intAttribute(const QDomElement &element, const QString &name)
{
    return element.attribute(name).toInt();
}

double doubleAttribute(const QDomElement &element, const QString &name)
{
    const double value = element.attribute(name).toDouble();
    return std::isfinite(value) ? value : 0.0; // "nan" or "inf" is no diameter
}

QColor colorAttribute(const QDomElement &element, const QString &name)
{
    const QString text = element.attribute(name);
    return QColor::isValidColor(text) ? QColor(text) : QColor();
}

void readSettings(const QDomElement &element, ConnectionSettings &record)
{
    record.name = element.attribute(QStringLiteral("name"));
    record.type = intAttribute(element, QStringLiteral("type"));
    record.label = element.attribute(QStringLiteral("label"));
    record.id = element.attribute(QStringLiteral("id"));
    record.autoConnect = intAttribute(element, QStringLiteral("autoConnect")) != 0;
    if (record.type == Tcp)
        record.portOrBaud = intAttribute(element, QStringLiteral("port"));
    else
        record.portOrBaud = intAttribute(element, QStringLiteral("baudrate"));
    if (element.hasAttribute(QStringLiteral("group"))) {
        const QString group = element.attribute(QStringLiteral("group"));
        if (group != QLatin1String("false"))
            record.group = group.toInt();
    }
    qInfo().noquote() << "Loaded connection settings for" << record.name
                      << "with ID" << record.id;
}

void readColors(const QDomElement &element, QColor &x, QColor &y, QColor &i)
{
    x = colorAttribute(element, QStringLiteral("colorX"));
    y = colorAttribute(element, QStringLiteral("colorY"));
    i = colorAttribute(element, QStringLiteral("colorI"));
}

void readDetector(const QDomElement &element, ConnectionSettings &record, int stage)
{
    record.beamDiameter[stage] = doubleAttribute(element, QStringLiteral("beamDiameter"));
    record.model[stage] = intAttribute(element, QStringLiteral("model"));
    record.calculation[stage] = intAttribute(element, QStringLiteral("calculation"));
}

ConnectionSettings readDevice(const QDomElement &device)
{
    ConnectionSettings record;
    for (QDomElement child = device.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == QLatin1String("Settings")) {
            readSettings(child, record);
        } else if (tag == QLatin1String("General")) {
            record.pulsedLaser = intAttribute(child, QStringLiteral("pulsedLaser")) != 0;
            record.key = device.tagName().mid(devicePrefixLength).left(deviceKeyLength);
        } else if (tag == QLatin1String("Detector1")) {
            readDetector(child, record, 0);
        } else if (tag == QLatin1String("Detector2")) {
            readDetector(child, record, 1);
        } else if (tag == QLatin1String("DisplayColors") || tag == QLatin1String("SubsystemColors")) {
            readColors(child, record.colorX, record.colorY, record.colorI);
        } else if (tag == QLatin1String("CommonColors")) {
            readColors(child, record.commonColorX, record.commonColorY, record.commonColorI);
        }
    }
    return record;
}

// ---- writing the file ----

// The file must be writable in place (it is created when missing), as a
// plain open for reading and writing would require.
bool openableForWriting(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        qWarning().noquote() << "Cannot open setup file" << path << ":" << file.errorString();
        return false;
    }
    return true;
}

// Writes the document to a temporary file beside the target and renames it
// over the target. Where the directory forbids a temporary file the target
// is written directly.
bool writeDocument(const QString &path, const QDomDocument &document)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning().noquote() << "Cannot write setup file" << path << ":" << file.errorString();
        return false;
    }
    QTextStream stream(&file);
    document.save(stream, 1);
    stream.flush();
    if (stream.status() != QTextStream::Ok || !file.commit()) {
        qWarning().noquote() << "Writing setup file" << path << "failed:" << file.errorString();
        return false;
    }
    return true;
}

QDomDocument newSetupDocument()
{
    QDomDocument document(documentType);
    document.appendChild(document.createElement(rootName));
    return document;
}

} // namespace

Settings::Settings(QObject *parent)
    : QObject(parent)
{
}

Settings::~Settings() = default;

QString Settings::defaultFilePath()
{
    return QDir::toNativeSeparators(dataDirectory.path() + QDir::separator() + QStringLiteral("ConnectionSetup.xml"));
}

QString Settings::resolvePath(const QString &path)
{
    return path.isEmpty() ? defaultFilePath() : QDir::toNativeSeparators(path);
}

bool Settings::loadFile(const QString &path)
{
    return load(path, QIODevice::ReadWrite);
}

bool Settings::inspectFile(const QString &path)
{
    return load(path, QIODevice::ReadOnly);
}

bool Settings::load(const QString &path, QIODevice::OpenMode mode)
{
    qInfo().noquote() << "Loading connection settings";
    const QString fileName = resolvePath(path);
    QFile file(fileName);
    if (!file.exists() || !file.open(mode))
        return false;

    QByteArray content;
    QDomDocument document(documentType);
    if (!readBounded(file, content) || !parseSetup(content, document, fileName))
        return false;
    file.close();

    QList<ConnectionSettings> records;
    const QDomElement root = document.documentElement();
    for (QDomElement device = root.firstChildElement(); !device.isNull(); device = device.nextSiblingElement())
        records.append(readDevice(device));
    m_records = records;

    qInfo().noquote() << "Finished loading connection settings";
    return true;
}

bool Settings::saveConnectionFile(const QString &path)
{
    const QString fileName = resolvePath(path);
    if (!openableForWriting(fileName))
        return false;

    QDomDocument document = newSetupDocument();
    QDomElement root = document.documentElement();
    for (const ConnectionSettings &record : qAsConst(m_records)) {
        QDomElement device = document.createElement(devicePrefix + recordKey(record));
        device.appendChild(connectionElement(document, record));
        device.appendChild(colorElement(document, record));
        root.appendChild(device);
    }
    return writeDocument(fileName, document);
}

bool Settings::saveDetectorFile(const QString &path)
{
    const QString fileName = resolvePath(path);
    QByteArray content;
    {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadWrite)) {
            qWarning().noquote() << "Cannot open setup file" << fileName << ":" << file.errorString();
            return false;
        }
        if (!readBounded(file, content))
            return false;
    }

    QDomDocument document(documentType);
    if (content.isEmpty()) {
        document = newSetupDocument();
    } else if (!parseSetup(content, document, fileName)) {
        // Without a root element there is nothing to merge into; replacing
        // the file would throw away whatever the user had in it.
        qWarning().noquote() << "Detector settings not saved; setup file" << fileName << "left unchanged";
        return false;
    }

    QDomElement root = document.documentElement();
    for (const ConnectionSettings &record : qAsConst(m_records)) {
        const QString elementName = devicePrefix + recordKey(record);
        QDomElement device = root.firstChildElement(elementName);
        if (device.isNull()) {
            device = document.createElement(elementName);
            appendDetectorElements(document, device, record);
            root.appendChild(device);
        } else if (!device.firstChildElement(QStringLiteral("General")).isNull()) {
            updateDetectorElements(device, record);
        } else {
            updateDetectorElements(device, record);
            appendDetectorElements(document, device, record);
            root.appendChild(device); // moves it to the end
        }
    }
    return writeDocument(fileName, document);
}

QString Settings::stagingPath(const QString &path)
{
    return resolvePath(path) + QStringLiteral(".saving");
}

bool Settings::saveSetupFile(const QString &path)
{
    const QString target = resolvePath(path);
    const QString staging = stagingPath(path);
    QFile::remove(staging);
    bool saved = saveConnectionFile(staging) && saveDetectorFile(staging);
    if (saved) {
        // One atomic replacement of the target by the finished document.
        QFile stagedFile(staging);
        QSaveFile file(target);
        saved = stagedFile.open(QIODevice::ReadOnly) && file.open(QIODevice::WriteOnly);
        if (saved) {
            const QByteArray content = stagedFile.readAll();
            saved = file.write(content) == content.size() && file.commit();
        }
        if (!saved)
            qWarning().noquote() << "Cannot replace setup file" << target << ":" << file.errorString();
    }
    if (QFileInfo(staging).isFile())
        QFile::remove(staging);
    return saved;
}

bool Settings::connections(QList<ConnectionSettings> &out) const
{
    out.clear();
    if (m_records.isEmpty())
        return false;
    for (const ConnectionSettings &record : m_records) {
        if (!record.id.isEmpty())
            out.append(record);
    }
    return true;
}

bool Settings::setConnections(const QList<ConnectionSettings> &list)
{
    m_records = list;
    return !m_records.isEmpty();
}

int Settings::indexOfDevice(const QString &id) const
{
    const QString key = normalizedKey(deviceKey(id));
    for (int i = 0; i < m_records.size(); ++i) {
        if (normalizedKey(m_records.at(i).key) == key)
            return i;
    }
    return -1;
}

namespace {

// The detector part of a record: what the parameters dialog changes.
void copyDetectorFields(const ConnectionSettings &from, ConnectionSettings &to)
{
    for (int stage = 0; stage < 2; ++stage) {
        to.calculation[stage] = from.calculation[stage];
        to.model[stage] = from.model[stage];
        to.beamDiameter[stage] = from.beamDiameter[stage];
    }
    to.pulsedLaser = from.pulsedLaser;
}

} // namespace

bool Settings::restoreDetectorSettings(ConnectionSettings &record) const
{
    const int index = indexOfDevice(record.id);
    if (index < 0)
        return false;
    const ConnectionSettings &stored = m_records.at(index);
    copyDetectorFields(stored, record);
    record.key = stored.key;
    return true;
}

bool Settings::storeDetectorSettings(ConnectionSettings &record)
{
    const int index = indexOfDevice(record.id);
    if (index < 0) {
        record.key = deviceKey(record.id);
        record.position = m_records.size();
        m_records.append(record);
        return false;
    }
    ConnectionSettings &stored = m_records[index];
    copyDetectorFields(record, stored);
    stored.id = record.id;
    return true;
}
