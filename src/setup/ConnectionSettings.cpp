#include "setup/ConnectionSettings.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>

QString deviceKey(const QString &id)
{
    return id.left(25).right(11);
}

void copyToFixedField(char *field, std::size_t size, const QString &text)
{
    if (size == 0)
        return;
    const int capacity = static_cast<int>(size - 1);
    // Every character takes at least one byte, so no more than `capacity`
    // characters can fit; drop whole characters (never half a surrogate
    // pair) until the encoded text fits.
    QString fitting = text.left(capacity);
    if (!fitting.isEmpty() && fitting.at(fitting.size() - 1).isHighSurrogate())
        fitting.chop(1);
    QByteArray bytes = fitting.toLocal8Bit();
    while (bytes.size() > capacity) {
        int cut = fitting.size() - 1;
        if (cut > 0 && fitting.at(cut).isLowSurrogate() && fitting.at(cut - 1).isHighSurrogate())
            --cut;
        fitting.truncate(cut);
        bytes = fitting.toLocal8Bit();
    }
    std::memset(field, 0, size);
    std::memcpy(field, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString fromFixedField(const char *field, std::size_t size)
{
    const void *end = std::memchr(field, 0, size);
    const std::size_t length = end ? static_cast<std::size_t>(static_cast<const char *>(end) - field) : size;
    return QString::fromLocal8Bit(field, static_cast<int>(length));
}

QList<ConnectionSettings> inSystemOrder(const QList<ConnectionSettings> &records)
{
    QList<ConnectionSettings> ordered = records;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const ConnectionSettings &a, const ConnectionSettings &b) { return a.position < b.position; });
    return ordered;
}
