#include "common/DeferredResponse.hpp"

namespace lumora {

HttpResponse DeferredResponse::later(std::shared_ptr<DeferredResponse> deferred)
{
    HttpResponse response;
    response.deferred = std::move(deferred);
    return response;
}

void DeferredResponse::complete(HttpResponse response)
{
    finish([response = std::move(response)](const HttpRequest&) { return response; });
}

void DeferredResponse::continueWith(Step step)
{
    finish(std::move(step));
}

void DeferredResponse::finish(Step step)
{
    const std::lock_guard lock(m_lock);
    if (m_complete)
        return;
    m_step = std::move(step);
    m_complete = true;
    if (m_ready) {
        m_ready();
        m_ready = nullptr;
    }
    m_completed.notify_all();
}

void DeferredResponse::whenComplete(std::move_only_function<void()> ready)
{
    const std::lock_guard lock(m_lock);
    if (m_complete)
        ready();
    else
        m_ready = std::move(ready);
}

void DeferredResponse::abandon()
{
    std::move_only_function<void()> dropped;
    {
        const std::lock_guard lock(m_lock);
        dropped = std::move(m_ready);
        m_ready = nullptr;
    }
    // Destroyed outside the lock: it may own what waits for this response.
}

DeferredResponse::Step DeferredResponse::step()
{
    const std::lock_guard lock(m_lock);
    return m_step;
}

HttpResponse DeferredResponse::wait(HttpResponse response, const HttpRequest& request)
{
    while (response.deferred) {
        const std::shared_ptr<DeferredResponse> deferred = std::move(response.deferred);
        Step step;
        {
            std::unique_lock lock(deferred->m_lock);
            deferred->m_completed.wait(lock, [&] { return deferred->m_complete; });
            step = deferred->m_step;
        }
        response = step(request);
    }
    return response;
}

} // namespace lumora
