#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>

#include <utility>

// Calls `callback` with the future's result in the thread of `context` once
// the future has finished, or not at all when `context` is gone by then.
// The window's way to take the result of a controller request without
// waiting for it.
template<typename T, typename Callback>
void whenReady(const QFuture<T> &future, QObject *context, Callback callback)
{
    auto *watcher = new QFutureWatcher<T>(context);
    QObject::connect(watcher, &QFutureWatcher<T>::finished, context,
                     [watcher, callback = std::move(callback)]() mutable {
                         watcher->deleteLater();
                         if constexpr (std::is_void_v<T>)
                             callback();
                         else
                             callback(watcher->result());
                     });
    watcher->setFuture(future);
}
