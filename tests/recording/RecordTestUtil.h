#pragma once

// Reading recording files back in tests.

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

struct RecordingText
{
    QByteArray columns;            // the line after the start line
    QByteArray emptyLine;          // the line before the data
    QList<QList<QByteArray>> rows; // data lines split at tabs
    bool endsWithFeed = false;
    bool ok = false; // start line, columns and empty line were there
};

inline RecordingText readRecording(const QString &path)
{
    RecordingText text;
    QFile file(path);
    const QByteArray all = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    text.endsWithFeed = all.endsWith('\n');
    const QList<QByteArray> lines = all.split('\n').mid(0, all.count('\n') + (text.endsWithFeed ? 0 : 1));
    if ((text.ok = lines.size() >= 3)) {
        text.columns = lines[1], text.emptyLine = lines[2];
        for (int i = 3; i < lines.size(); ++i)
            text.rows << lines[i].split('\t');
    }
    return text;
}

inline QJsonObject readJson(const QString &recording)
{
    QFile f(recording + ".json");
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
}
