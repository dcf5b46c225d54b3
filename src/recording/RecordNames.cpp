#include "RecordNames.h"

#include <QDateTime>
#include <QFileInfo>
#include <QStringList>

namespace RecordNames {

QString completePath(const QString &typedName, const QString &dataDirectory)
{
    QString name = typedName;
    if (!name.endsWith(QLatin1String(".csv")) && !name.endsWith(QLatin1String(".txt"))
        && !name.endsWith(QLatin1String(".xls")))
        name += QLatin1String(".csv");
    if (!name.contains('/'))
        name = dataDirectory + QLatin1String("/Data/") + name;
    return name;
}

QString controllerPath(const QString &path, const QString &label)
{
    const int slash = path.lastIndexOf('/');
    const QString directory = path.left(slash + 1);
    const QString fileName = path.mid(slash + 1);
    const int dot = fileName.indexOf('.');
    const QString stem = dot < 0 ? fileName : fileName.left(dot);
    const QString extension = dot < 0 ? QString() : fileName.mid(dot);
    return directory + stem + '_' + label + extension;
}

qint64 recordSeconds(const QString &hhhmmss)
{
    const QStringList parts = hhhmmss.split(':');
    auto part = [&parts](int i) { return i < parts.size() ? parts[i].trimmed().toLongLong() : 0; };
    return (part(0) * 60 + part(1)) * 60 + part(2);
}

QString proposedFileName()
{
    return QStringLiteral("Talvix_") + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH-mm-ss"))
        + QStringLiteral(".csv");
}

} // namespace RecordNames
