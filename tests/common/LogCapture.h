#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <mutex>

// Collects every log message of the process (from any thread) while it
// exists, so tests can check the log lines the code writes.
class LogCapture
{
public:
    // Install from initTestCase(): the test runner replaces any handler
    // installed before it starts.
    LogCapture() { previous = qInstallMessageHandler(&LogCapture::handler); }
    ~LogCapture() { qInstallMessageHandler(previous); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const
    {
        std::lock_guard<std::mutex> lock(mutex());
        return captured();
    }
    bool contains(const QString &text) const
    {
        const QStringList all = lines();
        for (const QString &line : all)
            if (line.contains(text))
                return true;
        return false;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex());
        captured().clear();
    }

private:
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    static QStringList &captured()
    {
        static QStringList list;
        return list;
    }
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        std::lock_guard<std::mutex> lock(mutex());
        captured().append(message);
    }
    QtMessageHandler previous = nullptr;
};
