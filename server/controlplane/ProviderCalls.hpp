#pragma once

#include "common/HttpMessage.hpp"

#include <QHash>
#include <QUuid>
#include <functional>
#include <memory>
#include <mutex>

namespace lumora {

class DeferredResponse;

struct ProviderCallLimits {
    // Calls under way at once over all accounts, each on a thread of the pool.
    int total = 32;
    // Calls under way at once for one account.
    int perAccount = 4;
};

// Runs the calls to outside services (speech grants, analysis, nudges) on a pool of threads
// of their own, so that a slow or silent provider holds no thread that serves requests, and
// one account's calls cannot take every place.
class ProviderCalls {
public:
    explicit ProviderCalls(ProviderCallLimits limits);
    // Waits for the calls under way.
    ~ProviderCalls();
    ProviderCalls(const ProviderCalls&) = delete;
    ProviderCalls& operator=(const ProviderCalls&) = delete;

    // Starts `call` for the account on the pool: its answer, later. Null when the account or
    // the pool has as many calls under way as it may: the call does not run.
    std::shared_ptr<DeferredResponse> start(const QUuid& account, std::function<HttpResponse()> call);

private:
    void finished(const QUuid& account);

    struct Pool;
    ProviderCallLimits m_limits;
    std::mutex m_lock;
    int m_underWay = 0;
    QHash<QUuid, int> m_underWayByAccount;
    std::unique_ptr<Pool> m_pool;
};

} // namespace lumora
