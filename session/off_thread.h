// The one way to run work off the GUI thread and come back: `work` runs on `pool`, and its
// result reaches `done` on the thread of `context`, unless `context` is gone by then (the
// watcher is its child, so a closed window never hears of work it started), nor of work
// cancelled before it ran. `work` must not throw.
#pragma once

#include <type_traits>
#include <utility>

#include <QFuture>
#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace tessel {

template <class Work, class Done>
auto offThread(QObject* context, Work work, Done done,
               QThreadPool* pool = QThreadPool::globalInstance())
    -> QFuture<std::invoke_result_t<Work>> {
    using Result = std::invoke_result_t<Work>;
    auto* watcher = new QFutureWatcher<Result>(context);
    QObject::connect(watcher, &QFutureWatcher<Result>::finished, context,
                     [watcher, done = std::move(done)]() mutable {
                         watcher->deleteLater();
                         if (watcher->future().isCanceled())
                             return;
                         if constexpr (std::is_void_v<Result>)
                             done();
                         else
                             done(watcher->future().takeResult());
                     });
    QFuture<Result> future = QtConcurrent::run(pool, std::move(work));
    watcher->setFuture(future);
    return future;
}

} // namespace tessel
