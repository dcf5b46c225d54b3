#pragma once

#include <pybind11/pybind11.h>

#include <QElapsedTimer>
#include <QFuture>
#include <QThread>

// Waiting for controller requests from Python. The wait runs without the
// GIL, so other Python threads (and other controllers) go on meanwhile. A
// QFuture is polled rather than waited for: waitForFinished() may run a
// queued request on the calling thread, beside the controller's worker.
namespace beamstab {

// How often a wait looks for a pending signal (Ctrl-C).
constexpr int signalCheckMs = 20;

// Sleeps without the GIL until done() holds or maxMs passed (1 ms steps).
template<typename Done>
bool sleepUntil(Done done, int maxMs)
{
    pybind11::gil_scoped_release release;
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() >= maxMs)
            return false;
        QThread::msleep(1);
    }
    return true;
}

// Raises the pending Python exception of a signal handler (KeyboardInterrupt
// for Ctrl-C), if any. Needs the GIL.
inline void raisePendingSignal()
{
    if (PyErr_CheckSignals() != 0)
        throw pybind11::error_already_set();
}

// Waits for the future; a signal ends the wait with its exception (the
// request itself goes on in the controller's worker).
template<typename T>
T await(const QFuture<T> &future)
{
    while (!sleepUntil([&future] { return future.isFinished(); }, signalCheckMs))
        raisePendingSignal();
    if constexpr (!std::is_void_v<T>)
        return future.result();
}

} // namespace beamstab
