#pragma once

#include "common/HttpMessage.hpp"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace lumora {

// The answer to a request that its handler gives later, from any thread, while the connection
// waits without holding a thread. It completes once: with the answer, or with a step that makes
// the answer. The server runs a step on the thread that ran the handler, so a step may use what
// belongs to that thread (its database connection); a step may in turn answer later.
class DeferredResponse {
public:
    using Step = std::function<HttpResponse(const HttpRequest&)>;

    // A response that says "answered later by `deferred`".
    static HttpResponse later(std::shared_ptr<DeferredResponse> deferred);

    void complete(HttpResponse response);
    void continueWith(Step step);

    // For the server: `ready` runs once the response is complete (at once when it is), on the
    // completing thread and under this object's lock, so it should only hand the work on.
    void whenComplete(std::move_only_function<void()> ready);
    // For the server at its end: drops a `ready` that has not run; it will not run any more.
    void abandon();
    // The step, once complete.
    [[nodiscard]] Step step();

    // Outside a server (tests, tools): the final answer to `request`, waiting here for every
    // later part and running the steps on this thread.
    static HttpResponse wait(HttpResponse response, const HttpRequest& request);

private:
    void finish(Step step);

    std::mutex m_lock;
    std::condition_variable m_completed;
    Step m_step;
    bool m_complete = false;
    std::move_only_function<void()> m_ready;
};

} // namespace lumora
