#pragma once

#include <QFuture>
#include <QPromise>
#include <QThreadPool>
#include <memory>
#include <optional>
#include <type_traits>

namespace lumora {

// Starts `work` on a thread of the global pool; the future holds its result. For the work that
// grows with the user's data (opening, sealing, reading and writing files, encoding and decoding
// large JSON), which must not hold up the event loop of the thread that calls it: the caller
// awaits the future. `work` takes everything it needs by value and must not touch the caller's
// objects.
template <typename Work> QFuture<std::optional<std::invoke_result_t<Work&>>> startOffThread(Work work)
{
    using Result = std::optional<std::invoke_result_t<Work&>>;
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, work = std::move(work)]() mutable {
        promise->addResult(Result(work()));
        promise->finish();
    });
    return future;
}

} // namespace lumora
