#pragma once

#include "common/DeferredResponse.hpp"
#include "common/HttpMessage.hpp"

#include <QHash>
#include <QUuid>
#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>

namespace lumora {

enum class ProviderCallKind {
    // A speech grant: short, and no conversation starts without one.
    speechGrant,
    // An analysis or a nudge.
    analysis,
};

struct ProviderCallLimits {
    // Calls under way at once over all accounts, each on a thread of the pool.
    int total = 32;
    // Calls of one kind under way at once for one account, while few accounts ask.
    int perAccount = 4;
    // Places only speech grants may take, so that analyses never keep a conversation from
    // starting.
    int keptForSpeech = 8;
    // How long one call may hold its place: longer than an analysis's whole budget, shorter
    // than the application waits for an answer.
    std::chrono::milliseconds longestHold { 50'000 };
};

// Runs the calls to outside services (speech grants, analysis, nudges) on a pool of threads
// of their own, so that a slow or silent provider holds no thread that serves requests.
// Analyses never take the places kept for speech grants. The places of each kind are shared
// fairly: an account may hold its share of them (the kind's places over the accounts that
// have calls under way or were refused lately, at least one and at most `perAccount`), so
// that when many accounts ask, those that hold more than their share get no more until the
// others have theirs. Speech grants, which no conversation starts without, count one account
// more than those asking, so that an account that holds none finds a place free. A call that holds its place
// past `longestHold` gives it up: its request is answered as if the provider had failed, whatever the call
// still does.
class ProviderCalls {
public:
    explicit ProviderCalls(ProviderCallLimits limits);
    // Waits for the calls under way.
    ~ProviderCalls();
    ProviderCalls(const ProviderCalls&) = delete;
    ProviderCalls& operator=(const ProviderCalls&) = delete;

    // Starts `call` for the account on the pool: its answer, later, or `fallback`'s (run on
    // the request's thread) once the call has held its place too long. Null when the account
    // or the pool has as many calls of that kind under way as it may: the call does not run.
    std::shared_ptr<DeferredResponse> start(const QUuid& account, ProviderCallKind kind,
        std::function<HttpResponse()> call, DeferredResponse::Step fallback);

private:
    using Clock = std::chrono::steady_clock;
    struct Place;
    struct KindCalls {
        int underWay = 0;
        QHash<QUuid, int> byAccount;
        // Accounts refused lately (within `longestHold`), which count for the shares too.
        QHash<QUuid, Clock::time_point> refusedAt;
    };

    // Takes a place for the account when it may have one; under the lock.
    bool admit(const QUuid& account, ProviderCallKind kind, Clock::time_point now);
    // Gives a place back; false when it was given back already. Under the lock.
    bool release(Place& place);
    void finish(const std::shared_ptr<Place>& place, HttpResponse response);
    // Answers the calls that held their places too long, until stopped.
    void watch(const std::stop_token& stop);

    struct Threads;
    ProviderCallLimits m_limits;
    std::mutex m_lock;
    std::condition_variable_any m_deadlineChanged;
    int m_underWay = 0;
    std::array<KindCalls, 2> m_kinds;
    std::multimap<Clock::time_point, std::shared_ptr<Place>> m_deadlines;
    std::unique_ptr<Threads> m_threads;
};

} // namespace lumora
