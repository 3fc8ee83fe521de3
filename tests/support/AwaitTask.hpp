#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <qcoro/qcorotask.h>
#include <type_traits>
#include <variant>

namespace lumora::test {

namespace detail {
template <typename T> using Outcome = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

template <typename T>
QCoro::Task<> runToEnd(QCoro::Task<T> task, std::optional<Outcome<T>>* outcome, QEventLoop* loop)
{
    if constexpr (std::is_void_v<T>) {
        co_await std::move(task);
        outcome->emplace();
    } else {
        outcome->emplace(co_await std::move(task));
    }
    loop->quit();
}
} // namespace detail

// Keeps a task's value in `result` once it ends: for tasks that run side by side.
template <typename T> QCoro::Task<> storeResult(QCoro::Task<T> task, std::optional<T>* result)
{
    result->emplace(co_await std::move(task));
}

// Runs a task to its end in a local event loop and returns its value; unlike QCoro::waitFor it
// also takes values without an empty state. A task that has not ended within `timeout` fails
// the running test and ends the process: its coroutine still refers to the test's objects, so
// nothing after it could run safely (each test runs in a process of its own under CTest).
template <typename T>
T awaitTask(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(60))
{
    std::optional<detail::Outcome<T>> outcome;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto running = detail::runToEnd(std::move(task), &outcome, &loop);
    if (!outcome) {
        deadline.start(timeout);
        loop.exec();
    }
    if (!outcome) {
        ADD_FAILURE() << "the awaited task did not end within " << timeout.count() << " ms";
        std::fflush(stdout);
        std::abort();
    }
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome);
}

// Runs the event loop for the given time.
inline void spinFor(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

// Runs the event loop until the condition holds; false when the time ran out first.
inline bool spinUntil(const std::function<bool()>& condition, int milliseconds = 60000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

} // namespace lumora::test
