#include "LargeTimer.h"

#include <algorithm>

LargeTimer::LargeTimer(QObject *parent, quint32 maxChunk) : QObject(parent), maxChunk(std::max(1u, maxChunk))
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &LargeTimer::timerTimeout);
}

void LargeTimer::start(quint32 ms)
{
    interval = ms;
    m_timer.stop();
    beginCycle();
}

void LargeTimer::stop()
{
    m_timer.stop();
}

quint32 LargeTimer::remainingTime() const
{
    if (!m_timer.isActive())
        return rest;
    return rest + quint32(std::max(0, m_timer.remainingTime()));
}

void LargeTimer::beginCycle()
{
    chunk = std::min(interval, std::min(maxChunk, 2147483647u));
    rest = interval - chunk;
    m_timer.start(int(chunk));
}

void LargeTimer::timerTimeout()
{
    if (rest > 0) {
        chunk = std::min(rest, std::min(maxChunk, 2147483647u));
        rest -= chunk;
        m_timer.start(int(chunk));
        return;
    }
    if (m_singleShot) {
        m_timer.stop();
        chunk = std::min(interval, std::min(maxChunk, 2147483647u));
        rest = interval - chunk;
    } else {
        beginCycle();
    }
    emit timeout();
}
