#include "controlplane/SignInWriter.hpp"

#include "controlplane/TakenSignIns.hpp"

#include <QHash>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <ranges>
#include <stop_token>
#include <thread>
#include <vector>

namespace lumora {

namespace {

struct Pending {
    SignInStart start;
    SignInWriter::Decided decided;
};

// Starts waiting for their turn: the networks in turn, and within each its addresses in turn.
class Turns {
public:
    [[nodiscard]] bool empty() const { return m_turn.empty(); }

    // At the end of its address's queue, or at its head when it waited before.
    void push(Pending pending, bool again = false)
    {
        const QString network = pending.start.source.network;
        const QString address = pending.start.source.address;
        if (!m_networks.contains(network))
            m_turn.push_back(network);
        Network& ofNetwork = m_networks[network];
        std::deque<Pending>& queue = ofNetwork.byAddress[address];
        if (queue.empty())
            ofNetwork.turn.push_back(address);
        if (again)
            queue.push_front(std::move(pending));
        else
            queue.push_back(std::move(pending));
    }

    // The next start of the network whose turn it is, of its address whose turn it is.
    Pending pop()
    {
        const QString network = m_turn.front();
        m_turn.pop_front();
        Network& ofNetwork = m_networks[network];
        const QString address = ofNetwork.turn.front();
        ofNetwork.turn.pop_front();
        std::deque<Pending>& queue = ofNetwork.byAddress[address];
        Pending next = std::move(queue.front());
        queue.pop_front();
        if (queue.empty())
            ofNetwork.byAddress.remove(address);
        else
            ofNetwork.turn.push_back(address);
        if (ofNetwork.turn.empty())
            m_networks.remove(network);
        else
            m_turn.push_back(network);
        return next;
    }

private:
    struct Network {
        QHash<QString, std::deque<Pending>> byAddress;
        std::deque<QString> turn;
    };
    QHash<QString, Network> m_networks;
    std::deque<QString> m_turn;
};

// One writer thread and the starts of the networks that are its own, waiting their turn.
struct Writer {
    std::mutex lock;
    std::condition_variable_any queued;
    Turns waiting;
    // Starts queued so far, so that a writer waiting out busy networks wakes for a new one.
    std::uint64_t arrivals = 0;
    std::jthread thread;
};

} // namespace

struct SignInWriter::State {
    State(QString url, SignInLimits bounds, qint64 open, std::function<qint64()> now)
        : databaseUrl(std::move(url))
        , limits(bounds)
        , lifetime(open)
        , clock(std::move(now))
        , taken(bounds)
    {
    }

    QString databaseUrl;
    SignInLimits limits;
    qint64 lifetime;
    std::function<qint64()> clock;
    TakenSignIns taken;
    std::vector<std::unique_ptr<Writer>> writers;

    void write(Writer& writer, const std::stop_token& stop)
    {
        std::unique_ptr<ControlPlaneStore> store;
        bool progressed = true;
        std::uint64_t seen = 0;
        for (;;) {
            std::vector<Pending> batch;
            {
                std::unique_lock hold(writer.lock);
                // Networks that another instance was deciding get a moment before they are tried
                // again, unless something new comes.
                if (!progressed)
                    writer.queued.wait_for(
                        hold, stop, std::chrono::milliseconds(10), [&] { return writer.arrivals != seen; });
                writer.queued.wait(hold, stop, [&] { return !writer.waiting.empty(); });
                if (writer.waiting.empty())
                    return;
                while (!writer.waiting.empty() && std::ssize(batch) < largestBatch)
                    batch.push_back(writer.waiting.pop());
                seen = writer.arrivals;
            }
            progressed = decide(writer, store, batch, stop.stop_requested());
        }
    }

    // Decides what it can of `batch` and puts the rest back in its turn: whether it decided any.
    bool decide(
        Writer& writer, std::unique_ptr<ControlPlaneStore>& store, std::vector<Pending>& batch, bool stopping)
    {
        const qint64 now = clock();
        bool decidedAny = false;
        const auto answer = [&](Pending& pending, std::optional<SignInOutcome> outcome) {
            std::exchange(pending.decided, nullptr)(std::move(outcome));
            decidedAny = true;
        };
        std::vector<Pending*> passing;
        try {
            if (!store)
                store = ControlPlaneStore::openWriter(databaseUrl);
            const SignInStartStore starts(*store, limits, lifetime);
            QList<SignInStart> toTake;
            for (Pending& pending : batch) {
                pending.start.request.createdAt = now;
                // What was taken while it waited may refuse it now.
                if (const auto refused = taken.refusal(pending.start.source, now)) {
                    answer(pending, std::unexpected(*refused));
                    continue;
                }
                const SignInDecision found = starts.check(pending.start);
                if (!found.outcome) {
                    taken.decided(pending.start.source, now, found);
                    answer(pending, found.outcome);
                    continue;
                }
                toTake.append(pending.start);
                passing.push_back(&pending);
            }
            std::vector<std::optional<SignInDecision>> decisions;
            if (!toTake.isEmpty())
                decisions = starts.add(toTake, NetworkTurn::skipBusy);
            for (std::size_t i = 0; i < decisions.size(); ++i)
                if (const auto& decision = decisions[i]) {
                    taken.decided(passing[i]->start.source, now, *decision);
                    answer(*passing[i], decision->outcome);
                }
        } catch (const StoreFailure& failure) {
            qWarning("deciding sign-in starts failed: %s", failure.what());
            for (Pending& pending : batch)
                if (pending.decided)
                    answer(pending, std::nullopt);
            return true;
        }
        // Those whose network another instance was deciding wait for their turn again, at the head
        // of their addresses' queues; at the end there is no later turn.
        const std::lock_guard hold(writer.lock);
        for (Pending& pending : batch | std::views::reverse) {
            if (!pending.decided)
                continue;
            if (stopping)
                answer(pending, std::nullopt);
            else
                writer.waiting.push(std::move(pending), true);
        }
        return decidedAny;
    }
};

SignInWriter::SignInWriter(
    const QString& databaseUrl, SignInLimits limits, qint64 lifetime, std::function<qint64()> clock)
    : m_state(std::make_unique<State>(databaseUrl, limits, lifetime, std::move(clock)))
{
    // SQLite writes one transaction at a time, whoever asks.
    const int writers = databaseUrl.startsWith(u"sqlite:") ? 1 : postgresqlWriters;
    for (int i = 0; i < writers; ++i)
        m_state->writers.push_back(std::make_unique<Writer>());
    for (const auto& writer : m_state->writers)
        writer->thread = std::jthread([state = m_state.get(), &writer = *writer](
                                          const std::stop_token& stop) { state->write(writer, stop); });
}

SignInWriter::~SignInWriter()
{
    for (const auto& writer : m_state->writers)
        writer->thread.request_stop();
    for (const auto& writer : m_state->writers)
        writer->thread.join();
}

std::optional<SignInRequestRefusal> SignInWriter::start(
    SignInRequestRecord request, SignInSource source, Decided decided)
{
    if (auto refused = m_state->taken.refusal(source, m_state->clock()))
        return refused;
    // A network's starts are one writer's, decided in their turn one after the other.
    Writer& writer = *m_state->writers[qHash(source.network) % m_state->writers.size()];
    {
        const std::lock_guard hold(writer.lock);
        writer.waiting.push(Pending { { std::move(request), std::move(source) }, std::move(decided) });
        ++writer.arrivals;
    }
    writer.queued.notify_one();
    return std::nullopt;
}

void SignInWriter::redeemed(const QString& network)
{
    m_state->taken.changed(network);
}

} // namespace lumora
