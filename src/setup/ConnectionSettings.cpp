#include "setup/ConnectionSettings.h"

#include <algorithm>

QString deviceKey(const QString &id)
{
    return id.left(25).right(deviceKeyLength);
}

QList<ConnectionSettings> inSystemOrder(const QList<ConnectionSettings> &records)
{
    QList<ConnectionSettings> ordered = records;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const ConnectionSettings &a, const ConnectionSettings &b) { return a.position < b.position; });
    return ordered;
}
