#pragma once

#include <QObject>
#include <QTimer>

// A timer for intervals beyond what one QTimer can run (2^31 - 1 ms, about
// 24.8 days): the interval is run as a chain of pieces of at most maxChunk
// ms, and timeout() is emitted once the whole interval has elapsed.
class LargeTimer : public QObject
{
    Q_OBJECT
public:
    explicit LargeTimer(QObject *parent = nullptr, quint32 maxChunk = 2147483647u);

    void setSingleShot(bool singleShot) { m_singleShot = singleShot; }
    bool isSingleShot() const { return m_singleShot; }

    void start(quint32 ms);
    void stop();
    bool isActive() const { return m_timer.isActive(); }
    // What is left of the interval: the pieces still to come plus what the
    // running piece has left; just the pieces when no piece is running.
    quint32 remainingTime() const;

    quint32 maxChunk;      // longest piece, ms
    quint32 interval = 0;  // whole interval, ms
    quint32 chunk = 0;     // the piece now running, ms
    quint32 rest = 0;      // what remains after the running piece, ms

signals:
    void timeout();

private slots:
    void timerTimeout();

private:
    void beginCycle();

    bool m_singleShot = false;
    QTimer m_timer;
};
