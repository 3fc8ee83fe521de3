#pragma once

#include "analysis/ConversationAnalyzer.hpp"
#include "common/DeferredResponse.hpp"
#include "common/HttpMessage.hpp"
#include "controlplane/ProviderCallRates.hpp"
#include "controlplane/ReservationStore.hpp"

#include <QJsonObject>
#include <QString>
#include <QUuid>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace lumora {

class Router;
class DeepgramGrantClient;
class ProviderCalls;
enum class ProviderCallKind;
struct DeviceRecord;

struct ConversationSettings {
    // The secret speech-provider tokens are signed with; without one (and without
    // `speechGrants`) no token is issued.
    std::optional<std::string> speechTokenSecret;
    // The real speech provider's grants; when set, tokens come from it instead.
    std::shared_ptr<const DeepgramGrantClient> speechGrants;
    // Estimated provider cost in micros per minute of audio, by usage operation; an
    // operation not named here is refused.
    std::map<QString, qint64> usageRatesMicrosPerMinute { { QStringLiteral("live_transcription"), 7700 },
        { QStringLiteral("final_transcription"), 4300 } };
    // What answers the analysis and nudge calls; the built-in rule-based analyzer when null.
    std::shared_ptr<const ConversationAnalyzer> analyzer;
    // The calls that reach the speech provider's grants or the configured analyzer; past
    // them a grant is refused with 429 and the rule-based analyzer answers.
    ProviderCallRates callRates;
    // Where the calls to outside services (`speechGrants`, `analyzer`) run; on the request's
    // thread when null.
    std::shared_ptr<ProviderCalls> providerCalls;
};

// The calls around one conversation: usage reservations, speech-provider grants, analysis,
// coaching nudges and usage reports. Each answers only the account owning the reservation.
class ConversationEndpoints {
public:
    // The longest recording one reservation covers, in seconds.
    static constexpr double maximumReservationSeconds = 3600;
    // An open reservation lapses this long after its grant has run out.
    static constexpr qint64 reservationMargin = 1800;
    // Speech-provider tokens live this long, and never past their reservation.
    static constexpr qint64 speechTokenLifetime = 300;
    // The most turns one analysis or nudge request may carry.
    static constexpr qsizetype maximumTurns = 2000;

    ConversationEndpoints(
        ControlPlaneStore& store, ConversationSettings settings, std::function<qint64()> clock);

    void addRoutes(Router& router);

    HttpResponse reserve(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse finalize(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse cancel(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse speechToken(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse analyze(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse nudge(const HttpRequest& request, const DeviceRecord& device);
    HttpResponse reportUsage(const HttpRequest& request, const DeviceRecord& device);

private:
    // The account's reservation that is still open and has not lapsed, or the refusal.
    std::expected<UsageReservationRecord, HttpResponse> activeReservation(
        const QUuid& accountID, const QUuid& reservationID) const;
    // The same, named by the "X-Reservation-ID" header.
    std::expected<UsageReservationRecord, HttpResponse> headerReservation(
        const HttpRequest& request, const DeviceRecord& device) const;
    struct ReservedBody {
        QJsonObject body;
        UsageReservationRecord reservation;
    };
    // The JSON body of a call naming an active reservation in its header.
    std::expected<ReservedBody, HttpResponse> reservedBody(
        const HttpRequest& request, const DeviceRecord& device) const;
    // What answers an analysis or nudge call under the reservation: the configured analyzer
    // while the account keeps within its call limits, the rule-based one beyond them.
    const ConversationAnalyzer& analyzerFor(const UsageReservationRecord& reservation);
    // An analysis or nudge request read from its body, with no more than `maximumTurns`.
    template <typename T> static std::expected<T, HttpResponse> turnsRequest(const QJsonObject& body);
    // Finalizes or cancels the reservation the body names.
    HttpResponse close(const HttpRequest& request, const DeviceRecord& device, const QString& status);
    // The answer of `call` to an outside service, run on the provider pool when there is one;
    // what `fallback` answers when the call gets no place there, or holds it too long.
    HttpResponse callProvider(const HttpRequest& request, const DeviceRecord& device, ProviderCallKind kind,
        std::function<HttpResponse()> call, DeferredResponse::Step fallback) const;

    ReservationStore m_store;
    ConversationSettings m_settings;
    std::function<qint64()> m_clock;
    ProviderCallCounter m_calls;
    // Answers analyses and nudges when no outside service may.
    std::shared_ptr<const ConversationAnalyzer> m_rules;
};

} // namespace lumora
