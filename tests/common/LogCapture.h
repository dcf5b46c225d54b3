#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <mutex>

// Collects every log message of the process (from any thread) while it
// exists, so tests can check the log lines the code writes. Install it from
// initTestCase(): the test runner replaces any handler installed before.
class LogCapture
{
public:
    LogCapture() { previous = qInstallMessageHandler(&LogCapture::handler); }
    ~LogCapture() { qInstallMessageHandler(previous); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const { std::lock_guard<std::mutex> lock(mutex); return captured; }
    bool contains(const QString &text) const { return !lines().filter(text).isEmpty(); }
    void clear() { std::lock_guard<std::mutex> lock(mutex); captured.clear(); }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &line)
    {
        std::lock_guard<std::mutex> lock(mutex);
        captured.append(line);
    }
    static inline std::mutex mutex;
    static inline QStringList captured;
    QtMessageHandler previous = nullptr;
};
