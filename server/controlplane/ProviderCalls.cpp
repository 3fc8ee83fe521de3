#include "controlplane/ProviderCalls.hpp"

#include "common/Asio.hpp"

#include <algorithm>
#include <thread>
#include <vector>

namespace lumora {

// One call's place, from its admission until its answer or its deadline, whichever comes first.
struct ProviderCalls::Place {
    QUuid account;
    ProviderCallKind kind;
    std::shared_ptr<DeferredResponse> deferred;
    DeferredResponse::Step fallback;
    std::multimap<Clock::time_point, std::shared_ptr<Place>>::iterator deadline;
    bool released = false;
};

// The pool the calls run on, as many threads as places, and the thread that watches the
// deadlines. A call whose place was given up at its deadline may still hold its thread for a
// while; a call admitted meanwhile then waits for a thread, and is answered at its own deadline
// without running if none comes.
struct ProviderCalls::Threads {
    explicit Threads(ProviderCalls& calls, int count)
        : pool(static_cast<std::size_t>(count))
        , watcher([&calls](const std::stop_token& stop) { calls.watch(stop); })
    {
    }
    boost::asio::thread_pool pool;
    std::jthread watcher;
};

ProviderCalls::ProviderCalls(ProviderCallLimits limits)
    : m_limits(limits)
{
    m_threads = std::make_unique<Threads>(*this, std::max(limits.total, 1));
}

ProviderCalls::~ProviderCalls()
{
    m_threads->watcher.request_stop();
    m_threads->watcher.join();
    m_threads->pool.join();
}

bool ProviderCalls::admit(const QUuid& account, ProviderCallKind kind, Clock::time_point now)
{
    KindCalls& calls = m_kinds[static_cast<std::size_t>(kind)];
    const int places = kind == ProviderCallKind::speechGrant
        ? m_limits.total
        : std::max(m_limits.total - m_limits.keptForSpeech, 1);
    calls.refusedAt.removeIf([&](QHash<QUuid, Clock::time_point>::iterator refused) {
        return now - refused.value() > m_limits.longestHold;
    });
    qsizetype asking = calls.byAccount.size();
    for (auto refused = calls.refusedAt.cbegin(); refused != calls.refusedAt.cend(); ++refused)
        asking += calls.byAccount.contains(refused.key()) ? 0 : 1;
    const int held = calls.byAccount.value(account);
    if (held == 0 && !calls.refusedAt.contains(account))
        ++asking;
    // A speech grant refused stops a conversation from starting: the shares leave a place for
    // one more account, so that one that holds none finds it free.
    if (kind == ProviderCallKind::speechGrant)
        ++asking;
    const int share = std::clamp(places / static_cast<int>(asking), 1, m_limits.perAccount);
    if (m_underWay >= m_limits.total || calls.underWay >= places || held >= share) {
        calls.refusedAt.insert(account, now);
        return false;
    }
    calls.refusedAt.remove(account);
    calls.byAccount.insert(account, held + 1);
    ++calls.underWay;
    ++m_underWay;
    return true;
}

bool ProviderCalls::release(Place& place)
{
    if (place.released)
        return false;
    place.released = true;
    m_deadlines.erase(place.deadline);
    KindCalls& calls = m_kinds[static_cast<std::size_t>(place.kind)];
    if (--calls.byAccount[place.account] == 0)
        calls.byAccount.remove(place.account);
    --calls.underWay;
    --m_underWay;
    return true;
}

std::shared_ptr<DeferredResponse> ProviderCalls::start(const QUuid& account, ProviderCallKind kind,
    std::function<HttpResponse()> call, DeferredResponse::Step fallback)
{
    auto place = std::make_shared<Place>(
        Place { account, kind, std::make_shared<DeferredResponse>(), std::move(fallback), {}, false });
    {
        const std::lock_guard lock(m_lock);
        const Clock::time_point now = Clock::now();
        if (!admit(account, kind, now))
            return nullptr;
        place->deadline = m_deadlines.emplace(now + m_limits.longestHold, place);
    }
    m_deadlineChanged.notify_all();
    boost::asio::post(m_threads->pool, [this, place, call = std::move(call)] {
        {
            // Answered at its deadline while it waited for a thread: it has nothing left to do.
            const std::lock_guard lock(m_lock);
            if (place->released)
                return;
        }
        HttpResponse response;
        try {
            response = call();
        } catch (const std::exception&) {
            response = errorResponse(500, "internal_error");
        }
        finish(place, std::move(response));
    });
    return place->deferred;
}

void ProviderCalls::finish(const std::shared_ptr<Place>& place, HttpResponse response)
{
    {
        // Counted out before the answer goes, so that a client that has it may call again.
        const std::lock_guard lock(m_lock);
        if (!release(*place))
            return;
    }
    place->deferred->complete(std::move(response));
}

void ProviderCalls::watch(const std::stop_token& stop)
{
    std::unique_lock lock(m_lock);
    while (!stop.stop_requested()) {
        if (m_deadlines.empty()) {
            m_deadlineChanged.wait(lock, stop, [this] { return !m_deadlines.empty(); });
            continue;
        }
        const Clock::time_point next = m_deadlines.begin()->first;
        if (Clock::now() < next) {
            m_deadlineChanged.wait_until(lock, stop, next,
                [this, next] { return m_deadlines.empty() || m_deadlines.begin()->first < next; });
            continue;
        }
        std::vector<std::shared_ptr<Place>> expired;
        while (!m_deadlines.empty() && m_deadlines.begin()->first <= Clock::now()) {
            expired.push_back(m_deadlines.begin()->second);
            release(*expired.back());
        }
        lock.unlock();
        for (const auto& place : expired)
            place->deferred->continueWith(place->fallback);
        lock.lock();
    }
}

} // namespace lumora
