#pragma once

#include "AwaitTask.hpp"
#include "persistence/DerivedResultRepository.hpp"
#include "providers/AnalysisProvider.hpp"
#include "providers/ControlPlaneFailure.hpp"
#include "providers/FinalTranscriptionProvider.hpp"
#include "providers/ProviderTokenSource.hpp"
#include "providers/ProviderUsageReporter.hpp"
#include "providers/SessionAuthorizationProvider.hpp"

#include <QHash>
#include <QStringList>
#include <coroutine>
#include <optional>

namespace lumora::test {

// Keeps one waiting call suspended until the test lets it go.
class HeldCall {
public:
    [[nodiscard]] bool waiting() const { return bool(m_waiter); }
    void release()
    {
        auto waiter = std::exchange(m_waiter, {});
        if (waiter)
            waiter.resume();
    }

    struct Awaiter {
        HeldCall* held;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiter) noexcept { held->m_waiter = waiter; }
        void await_resume() const noexcept { }
    };
    Awaiter wait() { return Awaiter { this }; }

private:
    std::coroutine_handle<> m_waiter;
};

// Every server and storage collaborator of the coordinator in one object that writes each call
// into `calls`. A call named in `failures` fails with that failure, only that many times when
// `failuresLeft` counts it; a call named `holdAt` waits in `held` until the test releases it.
class FakeConversationServices final : public SessionAuthorizationProvider,
                                       public ProviderTokenSource,
                                       public FinalTranscriptionProvider,
                                       public AnalysisProvider,
                                       public ProviderUsageReporter,
                                       public DerivedResultRepository {
public:
    static ProviderFailure refused(int status)
    {
        return ProviderFailure(ControlPlaneFailure(ControlPlaneError::rejected(status)));
    }

    QStringList calls;
    QHash<QString, ProviderFailure> failures;
    QHash<QString, int> failuresLeft;
    std::optional<ResultStoreFailure> saveFailure;
    QString holdAt;
    HeldCall held;

    double maximumSeconds = 3600;
    DeepgramTranscript transcript { 12.1,
        { SpeakerTurn(0, 0.0, 5.0, QStringLiteral("You never listen to me about the dishes.")),
            SpeakerTurn(1, 5.5, 12.1, QStringLiteral("I hear you, and I am sorry about that.")) } };
    AnalysisProviderResult analysis;
    QList<DerivedSessionResult> saved;
    // Reservations handed out, in order; the fake's grants name the reservation.
    QList<QUuid> reservations;

    QCoro::Task<std::expected<UsageReservation, ProviderFailure>> reserve(
        QUuid sessionID, double requestedSeconds) const override
    {
        co_await enter(QStringLiteral("reserve %1").arg(requestedSeconds));
        if (auto failure = failureOf(u"reserve"))
            co_return std::unexpected(*failure);
        UsageReservation reservation { QUuid::createUuid(), maximumSeconds };
        self()->reservations.append(reservation.id);
        Q_UNUSED(sessionID);
        co_return reservation;
    }

    QCoro::Task<std::expected<void, ProviderFailure>> finalize(
        QUuid reservationID, qint64 actualSeconds) const override
    {
        co_await enter(QStringLiteral("finalize %1 %2").arg(indexOf(reservationID)).arg(actualSeconds));
        if (auto failure = failureOf(u"finalize"))
            co_return std::unexpected(*failure);
        co_return std::expected<void, ProviderFailure> {};
    }

    // Answered unless "cancel" is among the failures.
    QCoro::Task<bool> cancel(QUuid reservationID) const override
    {
        co_await enter(QStringLiteral("cancel %1").arg(indexOf(reservationID)));
        co_return !failureOf(u"cancel");
    }

    QCoro::Task<std::expected<DeepgramGrant, ProviderFailure>> deepgramGrant(
        QUuid reservationID) const override
    {
        co_await enter(QStringLiteral("grant %1").arg(indexOf(reservationID)));
        if (auto failure = failureOf(u"grant"))
            co_return std::unexpected(*failure);
        co_return DeepgramGrant { QStringLiteral("token-%1-%2").arg(indexOf(reservationID)).arg(calls.size()),
            300 };
    }

    QCoro::Task<std::expected<DeepgramTranscript, ProviderFailure>> transcribeFinal(
        QUrl audioURL, QString mimeType, DeepgramGrant grant) const override
    {
        co_await enter(
            QStringLiteral("transcribe %1 %2 %3").arg(audioURL.fileName(), mimeType, grant.accessToken));
        if (auto failure = failureOf(u"transcribe"))
            co_return std::unexpected(*failure);
        co_return DeepgramTranscript(transcript);
    }

    QCoro::Task<std::expected<AnalysisProviderResult, ProviderFailure>> analyze(AnalysisPass pass,
        AnalysisRubric rubric, QList<SpeakerTurn> turns, std::optional<LiveAnalysisContext> context,
        QUuid reservationID) const override
    {
        co_await enter(
            QStringLiteral("analyze %1 %2 %3 turns%4 %5")
                .arg(toString(pass), rubric == AnalysisRubric::checkin ? u"checkin"_qs : u"conversation"_qs)
                .arg(turns.size())
                .arg(context ? QStringLiteral(" with context") : QString())
                .arg(indexOf(reservationID)));
        if (auto failure = failureOf(u"analyze"))
            co_return std::unexpected(*failure);
        co_return AnalysisProviderResult(analysis);
    }

    QCoro::Task<std::expected<void, ProviderFailure>> reportDeepgram(QUuid reservationID,
        DeepgramOperation operation, QString model, qint64 durationSeconds, qint64 latencyMilliseconds,
        qint64 statusCode) const override
    {
        co_await enter(QStringLiteral("usage %1 %2 %3 %4s %5")
                           .arg(indexOf(reservationID))
                           .arg(toString(operation), model)
                           .arg(durationSeconds)
                           .arg(statusCode));
        self()->latencies.append(latencyMilliseconds);
        if (auto failure = failureOf(u"usage"))
            co_return std::unexpected(*failure);
        co_return std::expected<void, ProviderFailure> {};
    }

    QCoro::Task<Result<void>> save(DerivedSessionResult result) override
    {
        co_await enter(QStringLiteral("save"));
        if (saveFailure)
            co_return std::unexpected(*saveFailure);
        saved.append(result);
        co_return Result<void> {};
    }
    QCoro::Task<Result<Loaded>> load(QUuid) override { co_return Loaded {}; }
    QCoro::Task<Result<Listed>> list() override { co_return Listed { saved }; }
    QCoro::Task<Result<void>> remove(QUuid) override { co_return Result<void> {}; }

    QList<qint64> latencies;

private:
    // The collaborator protocols are const; the log is the fake's own business.
    FakeConversationServices* self() const { return const_cast<FakeConversationServices*>(this); }

    // Reservations are logged by their order ("r0", "r1"), unknown ones as "r?".
    QString indexOf(const QUuid& id) const
    {
        const auto index = reservations.indexOf(id);
        return index < 0 ? QStringLiteral("r?") : QStringLiteral("r%1").arg(index);
    }

    std::optional<ProviderFailure> failureOf(QStringView call) const
    {
        const auto found = failures.constFind(call.toString());
        if (found == failures.cend())
            return std::nullopt;
        const auto left = self()->failuresLeft.find(call.toString());
        if (left != self()->failuresLeft.end() && (*left)-- <= 0)
            return std::nullopt;
        return *found;
    }

    // Logs the call and, when it is the one to hold, waits to be let go.
    QCoro::Task<> enter(QString call) const
    {
        self()->calls.append(call);
        if (!holdAt.isEmpty() && call.startsWith(holdAt)) {
            self()->holdAt.clear();
            co_await self()->held.wait();
        }
    }
};

} // namespace lumora::test
