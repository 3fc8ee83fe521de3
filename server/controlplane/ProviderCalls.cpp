#include "controlplane/ProviderCalls.hpp"

#include "common/Asio.hpp"
#include "common/DeferredResponse.hpp"

namespace lumora {

struct ProviderCalls::Pool {
    explicit Pool(int threads)
        : threads(static_cast<std::size_t>(threads))
    {
    }
    boost::asio::thread_pool threads;
};

ProviderCalls::ProviderCalls(ProviderCallLimits limits)
    : m_limits(limits)
    , m_pool(std::make_unique<Pool>(std::max(limits.total, 1)))
{
}

ProviderCalls::~ProviderCalls()
{
    m_pool->threads.join();
}

std::shared_ptr<DeferredResponse> ProviderCalls::start(
    const QUuid& account, std::function<HttpResponse()> call)
{
    {
        const std::lock_guard lock(m_lock);
        int& ofAccount = m_underWayByAccount[account];
        if (m_underWay >= m_limits.total || ofAccount >= m_limits.perAccount) {
            if (ofAccount == 0)
                m_underWayByAccount.remove(account);
            return nullptr;
        }
        ++ofAccount;
        ++m_underWay;
    }
    // As many threads as calls may be under way: a call that starts finds one free.
    auto deferred = std::make_shared<DeferredResponse>();
    boost::asio::post(m_pool->threads, [this, account, call = std::move(call), deferred] {
        HttpResponse response;
        try {
            response = call();
        } catch (const std::exception&) {
            response = errorResponse(500, "internal_error");
        }
        // Counted out before the answer goes, so that a client that has it may call again.
        finished(account);
        deferred->complete(std::move(response));
    });
    return deferred;
}

void ProviderCalls::finished(const QUuid& account)
{
    const std::lock_guard lock(m_lock);
    --m_underWay;
    if (--m_underWayByAccount[account] == 0)
        m_underWayByAccount.remove(account);
}

} // namespace lumora
