#include "RecordReader.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Column indices of the quantities in JitterRecord order.
enum Quantity { X1, Y1, X2, Y2, RX1, RY1, RX2, RY2, Ms, QuantityCount };
const char *const quantityNames[QuantityCount] = {"X1", "Y1", "X2", "Y2", "RX1", "RY1", "RX2", "RY2", "ms"};

QByteArray baseName(const QByteArray &column)
{
    const int paren = column.indexOf('(');
    return (paren < 0 ? column : column.left(paren)).trimmed();
}

const double powersOfTen[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// The recorder writes fixed-point numbers ("-0.125", "5.00", "59999"). Those
// with up to 15 digits are read here as an integer divided by a power of
// ten, both exact in a double, so the one rounding of the division gives the
// same value as a full conversion at a fraction of its cost.
bool parseFixed(const char *p, const char *end, double &value)
{
    const bool negative = p < end && *p == '-';
    if (negative)
        ++p;
    long long digits = 0;
    int count = 0, decimals = -1;
    for (; p < end; ++p) {
        if (*p >= '0' && *p <= '9') {
            digits = digits * 10 + (*p - '0');
            ++count;
            if (decimals >= 0)
                ++decimals;
        } else if (*p == '.' && decimals < 0) {
            decimals = 0;
        } else {
            return false;
        }
    }
    if (count == 0 || count > 15)
        return false;
    const double v = decimals > 0 ? double(digits) / powersOfTen[decimals] : double(digits);
    value = negative ? -v : v;
    return true;
}

bool parseNumber(const char *begin, const char *end, double &value)
{
    if (parseFixed(begin, end, value))
        return true;
    const auto result = std::from_chars(begin, end, value);
    if (result.ec == std::errc() && result.ptr == end)
        return true;
    // from_chars has no "nan"/"inf" with a sign written by printf other than
    // these; the recorder writes them for positions out of the model's range.
    const QByteArray word(begin, int(end - begin));
    if (word == "nan" || word == "-nan") {
        value = NAN;
        return true;
    }
    return false;
}

} // namespace

QString RecordReader::unitOf(const QByteArray &columnName)
{
    const int open = columnName.indexOf('(');
    const int close = columnName.lastIndexOf(')');
    if (open < 0 || close < open)
        return QString();
    const QByteArray unit = columnName.mid(open + 1, close - open - 1);
    if (unit == "\xB5m" || unit == "\xC2\xB5m")
        return QStringLiteral("µm");
    return QString::fromLatin1(unit);
}

bool RecordReader::parseTable(const QByteArray &text, RecordTable &table, QString &error)
{
    table = RecordTable();
    int pos = 0;
    auto nextLine = [&text, &pos](QByteArray &line) {
        if (pos >= text.size())
            return false;
        int end = text.indexOf('\n', pos);
        if (end < 0)
            end = text.size();
        line = text.mid(pos, end - pos);
        if (line.endsWith('\r'))
            line.chop(1);
        pos = end + 1;
        return true;
    };

    QByteArray line;
    if (!nextLine(line) || !line.startsWith("Start: ")) {
        error = QStringLiteral("line 1: not a recording (no \"Start:\" line)");
        return false;
    }
    table.start = QDateTime::fromString(QString::fromLatin1(line.mid(7)).trimmed(), Qt::ISODate);
    if (!nextLine(line)) {
        error = QStringLiteral("line 2: the column names are missing");
        return false;
    }
    table.columns = line.split('\t');
    if (!nextLine(line) || !line.trimmed().isEmpty()) {
        error = QStringLiteral("line 3: expected the empty line after the column names");
        return false;
    }

    const int columnCount = table.columns.size();
    table.values.resize(std::size_t(columnCount));
    const long expected = text.size() / 40 + 1;
    for (auto &column : table.values)
        column.reserve(std::size_t(expected));

    int lineNumber = 3;
    const char *data = text.constData();
    while (pos < text.size()) {
        ++lineNumber;
        const void *feed = std::memchr(data + pos, '\n', std::size_t(text.size() - pos));
        if (!feed)
            break; // cut short while being written: the last line is incomplete
        const int end = int(static_cast<const char *>(feed) - data);
        int lineEnd = end;
        if (lineEnd > pos && data[lineEnd - 1] == '\r')
            --lineEnd;
        if (lineEnd == pos) { // an empty line (the end of the file)
            pos = end + 1;
            continue;
        }
        int c = 0;
        const char *p = data + pos;
        const char *const stop = data + lineEnd;
        bool ok = true;
        double value = 0;
        while (ok && p <= stop && c < columnCount) {
            const char *field = p;
            while (p < stop && *p != '\t')
                ++p;
            ok = parseNumber(field, p, value);
            if (ok)
                table.values[std::size_t(c)].push_back(value);
            ++c;
            ++p;
        }
        if (!ok || c != columnCount || p <= stop) {
            error = QStringLiteral("line %1: expected %2 numbers").arg(lineNumber).arg(columnCount);
            return false;
        }
        pos = end + 1;
    }
    return true;
}

int RecordTable::column(const QByteArray &name) const
{
    for (int c = 0; c < columns.size(); ++c)
        if (baseName(columns[c]) == name)
            return c;
    return -1;
}

bool RecordReader::parse(const QByteArray &text, JitterRecord &record, QString &error)
{
    record = JitterRecord();
    RecordTable table;
    if (!parseTable(text, table, error))
        return false;
    return toRecord(table, record, error);
}

bool RecordReader::toRecord(RecordTable &table, JitterRecord &record, QString &error)
{
    record = JitterRecord();
    record.start = table.start;
    int column[QuantityCount];
    for (int q = 0; q < QuantityCount; ++q) {
        column[q] = table.column(quantityNames[q]);
        if (column[q] < 0) {
            error = QStringLiteral("line 2: no column %1").arg(QLatin1String(quantityNames[q]));
            return false;
        }
    }
    record.positionUnit[0] = unitOf(table.columns[column[X1]]);
    record.positionUnit[1] = unitOf(table.columns[column[X2]]);
    std::vector<double> *target[Ms] = {
        &record.position[0][0], &record.position[0][1], &record.position[1][0], &record.position[1][1],
        &record.range[0][0],    &record.range[0][1],    &record.range[1][0],    &record.range[1][1],
    };
    // Moved, not copied: the table gives up its columns.
    const std::vector<double> ms = std::move(table.values[std::size_t(column[Ms])]);
    for (int q = 0; q < Ms; ++q)
        *target[q] = std::move(table.values[std::size_t(column[q])]);
    if (ms.size() >= 2 && ms.back() > ms.front()) {
        record.sampleRate = 1000.0 * double(ms.size() - 1) / (ms.back() - ms.front());
        record.sampleRateSource = QStringLiteral("from the time column");
    }
    return true;
}

bool RecordReader::readTableFile(const QString &path, RecordTable &table, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read '%1': %2").arg(path, file.errorString());
        return false;
    }
    // A mapped file is read in place; a copy only where mapping is refused.
    const qint64 size = file.size();
    if (size > std::numeric_limits<int>::max()) {
        error = QStringLiteral("'%1' is larger than 2 GB; analyse a shorter recording").arg(path);
        return false;
    }
    uchar *mapped = size > 0 ? file.map(0, size) : nullptr;
    const QByteArray text = mapped ? QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), int(size))
                                   : file.readAll();
    if (!parseTable(text, table, error)) {
        error = QStringLiteral("'%1' %2").arg(path, error);
        return false;
    }
    QFile json(path + QStringLiteral(".json"));
    if (json.open(QIODevice::ReadOnly))
        table.metadata = json.readAll();
    return true;
}

bool RecordReader::readFile(const QString &path, JitterRecord &record, QString &error)
{
    RecordTable table;
    if (!readTableFile(path, table, error))
        return false;
    if (!toRecord(table, record, error)) {
        error = QStringLiteral("'%1' %2").arg(path, error);
        return false;
    }
    if (!table.metadata.isEmpty()) {
        const QJsonObject meta = QJsonDocument::fromJson(table.metadata).object();
        const double saveRate = meta.value(QStringLiteral("saveRateHz")).toDouble();
        const bool trigger = meta.value(QStringLiteral("triggerMode")).toBool();
        if (saveRate > 0 && !trigger) {
            record.sampleRate = saveRate;
            record.sampleRateSource = QStringLiteral("from the recording's .json");
        }
    }
    return true;
}
