// The control-plane calls around one conversation: the usage reservation, speech grants,
// analysis, coaching nudges and usage reports.
#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "wire/AnalysisProviderPayload.hpp"
#include "wire/NudgeProviderPayload.hpp"
#include "wire/ProviderUsageReport.hpp"

#include <type_traits>

namespace lumora {

namespace {

struct ReserveReply {
    QUuid reservationID;
    double maximumSeconds = 0;

    static std::expected<ReserveReply, JsonDecodeError> fromJson(const QJsonValue& value)
    {
        JsonObjectReader reader(value, QStringLiteral("ReserveReply"));
        ReserveReply reply;
        reply.reservationID = reader.uuid(u"reservationID");
        reply.maximumSeconds = reader.number(u"maximumSeconds");
        return finish(reader, reply);
    }
};

// The usage report names its operations in snake case, not by the enumeration's raw values.
QString usageOperationText(DeepgramOperation operation)
{
    switch (operation) {
    case DeepgramOperation::liveTranscription:
        return QStringLiteral("live_transcription");
    case DeepgramOperation::finalTranscription:
        return QStringLiteral("final_transcription");
    }
    return {};
}

template <typename T> std::expected<T, ProviderFailure> provided(std::expected<T, ControlPlaneFailure> result)
{
    if (!result)
        return std::unexpected(ProviderFailure(std::move(result.error())));
    if constexpr (std::is_void_v<T>)
        return {};
    else
        return std::move(*result);
}

} // namespace

QCoro::Task<std::expected<UsageReservation, ProviderFailure>> ControlPlaneClient::reserve(
    QUuid sessionID, double requestedSeconds) const
{
    const QJsonObject payload { { QStringLiteral("sessionID"), uuidText(sessionID, UuidCase::lower) },
        { QStringLiteral("requestedSeconds"), requestedSeconds } };
    auto reply = co_await sendAccount<ReserveReply>(QStringLiteral("/v1/sessions/reserve"), payload);
    if (!reply)
        co_return std::unexpected(ProviderFailure(std::move(reply.error())));
    co_return UsageReservation { reply->reservationID, reply->maximumSeconds };
}

QCoro::Task<std::expected<void, ProviderFailure>> ControlPlaneClient::finalize(
    QUuid reservationID, qint64 actualSeconds) const
{
    const QJsonObject payload { { QStringLiteral("reservationID"), uuidText(reservationID, UuidCase::lower) },
        { QStringLiteral("actualSeconds"), actualSeconds } };
    co_return provided(
        co_await sendAcknowledged(QStringLiteral("/v1/sessions/finalize"), m_encoder.encode(payload)));
}

QCoro::Task<bool> ControlPlaneClient::cancel(QUuid reservationID) const
{
    // Clean-up paths call this: whatever goes wrong is dropped, and nothing is logged.
    const QJsonObject payload { { QStringLiteral("reservationID"),
        uuidText(reservationID, UuidCase::lower) } };
    const auto answered
        = co_await sendAcknowledged(QStringLiteral("/v1/sessions/cancel"), m_encoder.encode(payload));
    if (answered)
        co_return true;
    // Any refusal but a passing one means there is nothing this device can still close (the
    // reservation is closed, lapsed or unknown, or the device is no longer known).
    const auto* refusal = std::get_if<ControlPlaneError>(&answered.error());
    const std::optional<int> status = refusal ? refusal->status() : std::nullopt;
    co_return status&&* status < 500 && *status != 408 && *status != 429;
}

QCoro::Task<std::expected<DeepgramGrant, ProviderFailure>> ControlPlaneClient::deepgramGrant(
    QUuid reservationID) const
{
    co_return provided(co_await sendDecoded<DeepgramGrant>(
        QStringLiteral("/v1/providers/deepgram/token"), QStringLiteral("POST"), QByteArray(), reservationID));
}

QCoro::Task<std::expected<AnalysisProviderResult, ProviderFailure>> ControlPlaneClient::analyze(
    AnalysisPass pass, AnalysisRubric rubric, QList<SpeakerTurn> turns,
    std::optional<LiveAnalysisContext> context, QUuid reservationID) const
{
    AnalysisProviderPayload payload { pass, toString(rubric), std::move(turns), std::nullopt };
    if (context)
        payload.currentStep = context->currentAgendaStep;
    // The final pass carries the whole conversation: encoded on a pool thread.
    const auto encoding = startOffThread(
        [encoder = m_encoder, payload = std::move(payload)] { return encoder.encode(payload.toJson()); });
    QByteArray body = *co_await qCoro(encoding).waitForFinished();
    co_return provided(
        co_await sendDecoded<AnalysisProviderResult>(QStringLiteral("/v1/providers/anthropic/analyze"),
            QStringLiteral("POST"), std::move(body), reservationID));
}

QCoro::Task<std::expected<ConversationNudge, ProviderFailure>> ControlPlaneClient::requestNudge(
    QList<SpeakerTurn> turns, LiveAnalysisContext context, qint64 targetSpeaker, QUuid reservationID) const
{
    const NudgeProviderPayload payload(QString::fromLatin1(NudgeProviderPayload::coachingRubricVersion),
        turns, context.currentAgendaStep, targetSpeaker);
    co_return provided(
        co_await sendDecoded<ConversationNudge>(QStringLiteral("/v1/providers/anthropic/nudge"),
            QStringLiteral("POST"), m_encoder.encode(payload.toJson()), reservationID));
}

QCoro::Task<std::expected<void, ProviderFailure>> ControlPlaneClient::reportDeepgram(QUuid reservationID,
    DeepgramOperation operation, QString model, qint64 durationSeconds, qint64 latencyMilliseconds,
    qint64 statusCode) const
{
    // The reservation travels only in the body here. The receipt's values are not used.
    const ProviderUsageReport report { reservationID, usageOperationText(operation), std::move(model),
        durationSeconds, latencyMilliseconds, statusCode };
    auto reply
        = co_await sendAccount<ProviderUsageReceipt>(QStringLiteral("/v1/providers/usage"), report.toJson());
    if (!reply)
        co_return std::unexpected(ProviderFailure(std::move(reply.error())));
    co_return {};
}

} // namespace lumora
