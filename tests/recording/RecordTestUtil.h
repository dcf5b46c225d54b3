#pragma once

// Reading recording files back in tests.

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

struct RecordingText
{
    QByteArray startLine;
    QByteArray columns;
    QByteArray emptyLine;
    QList<QList<QByteArray>> rows; // data lines split at tabs
    bool endsWithFeed = false;
    bool ok = false;
};

inline RecordingText readRecording(const QString &path)
{
    RecordingText text;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return text;
    const QByteArray all = file.readAll();
    text.endsWithFeed = all.endsWith('\n');
    QList<QByteArray> lines = all.split('\n');
    if (text.endsWithFeed)
        lines.removeLast();
    if (lines.size() < 3)
        return text;
    text.startLine = lines[0];
    text.columns = lines[1];
    text.emptyLine = lines[2];
    for (int i = 3; i < lines.size(); ++i)
        text.rows << lines[i].split('\t');
    text.ok = true;
    return text;
}

inline QJsonObject readJson(const QString &recording)
{
    QFile f(recording + ".json");
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
}
