#pragma once

#include <optional>
#include <qcoro/qcorotask.h>

namespace lumora::test {

template <typename T> QCoro::Task<> storeResult(QCoro::Task<T> task, std::optional<T>* result)
{
    result->emplace(co_await std::move(task));
}

// Runs a task to completion in a local event loop and returns its value; unlike
// QCoro::waitFor it also works for values without a default constructor.
template <typename T> T awaitTask(QCoro::Task<T> task)
{
    std::optional<T> result;
    QCoro::waitFor(storeResult(std::move(task), &result));
    return std::move(*result);
}

} // namespace lumora::test
