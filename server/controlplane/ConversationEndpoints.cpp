#include "controlplane/ConversationEndpoints.hpp"

#include "analysis/RuleBasedAnalyzer.hpp"
#include "common/DeferredResponse.hpp"
#include "common/SpeechToken.hpp"
#include "controlplane/DeepgramGrantClient.hpp"
#include "controlplane/JsonReplies.hpp"
#include "controlplane/ProviderCalls.hpp"
#include "controlplane/Router.hpp"
#include "domain/JsonObjectReader.hpp"
#include "wire/AnalysisPass.hpp"
#include "wire/ControlPlaneJson.hpp"
#include "wire/ProviderUsageReport.hpp"

#include <cmath>

namespace lumora {

namespace {

constexpr auto maximumModelLength = 200;
// Longer than any conversation: a report beyond it is a fault of the caller.
constexpr qint64 maximumReportedSeconds = 86'400;

// A reply whose keys are the records' field names turned into snake case.
HttpResponse recordResponse(const QJsonObject& fields)
{
    return HttpResponse { .status = 200,
        .contentType = "application/json",
        .body = ControlPlaneEncoder().encode(fields).toStdString(),
        .headers = {} };
}

// A request body read by a record's own decoder, the snake-case keys turned back into
// field names first; a body that does not decode is an invalid request.
template <typename T> std::expected<T, HttpResponse> recordBody(const QJsonObject& body)
{
    auto record = T::fromJson(ControlPlaneDecoder::convertKeys(body));
    if (!record)
        return std::unexpected(invalidRequest());
    return std::move(*record);
}

qint64 wholeSeconds(double seconds)
{
    return static_cast<qint64>(std::ceil(seconds));
}

HttpResponse analysisResponse(const ConversationAnalyzer& analyzer, const AnalysisProviderPayload& payload)
{
    const auto result = analyzer.analyze(payload);
    if (!result)
        return errorResponse(400, errorCode(result.error()).toStdString());
    return recordResponse(result->toJson());
}

HttpResponse nudgeResponse(const ConversationAnalyzer& analyzer, const NudgeProviderPayload& payload)
{
    const auto nudge = analyzer.nudge(payload);
    if (!nudge)
        return errorResponse(400, errorCode(nudge.error()).toStdString());
    return recordResponse(nudge->toJson());
}

HttpResponse grantResponse(const DeepgramGrantClient& grants, qint64 lifetime)
{
    const auto grant = grants.grant(lifetime);
    if (!grant)
        return errorResponse(503, "provider_token_unavailable");
    return jsonResponse({ { "access_token", grant->accessToken }, { "expires_in", grant->expiresIn } });
}

} // namespace

ConversationEndpoints::ConversationEndpoints(
    ControlPlaneStore& store, ConversationSettings settings, std::function<qint64()> clock)
    : m_store(store)
    , m_settings(std::move(settings))
    , m_clock(std::move(clock))
    , m_calls(store, m_settings.callRates)
    , m_rules(std::make_shared<RuleBasedAnalyzer>())
{
    if (!m_settings.analyzer)
        m_settings.analyzer = m_rules;
}

HttpResponse ConversationEndpoints::callProvider(const HttpRequest& request, const DeviceRecord& device,
    ProviderCallKind kind, std::function<HttpResponse()> call, DeferredResponse::Step fallback) const
{
    if (!m_settings.providerCalls)
        return call();
    auto deferred = m_settings.providerCalls->start(device.accountID, kind, std::move(call), fallback);
    if (!deferred)
        return fallback(request);
    return DeferredResponse::later(std::move(deferred));
}

void ConversationEndpoints::addRoutes(Router& router)
{
    using E = ConversationEndpoints;
    router.addSignedRoute("/v1/sessions/reserve", "POST", *this, &E::reserve);
    router.addSignedRoute("/v1/sessions/finalize", "POST", *this, &E::finalize);
    router.addSignedRoute("/v1/sessions/cancel", "POST", *this, &E::cancel);
    router.addSignedRoute("/v1/providers/deepgram/token", "POST", *this, &E::speechToken);
    router.addSignedRoute("/v1/providers/anthropic/analyze", "POST", *this, &E::analyze);
    router.addSignedRoute("/v1/providers/anthropic/nudge", "POST", *this, &E::nudge);
    router.addSignedRoute("/v1/providers/usage", "POST", *this, &E::reportUsage);
}

std::expected<UsageReservationRecord, HttpResponse> ConversationEndpoints::activeReservation(
    const QUuid& accountID, const QUuid& reservationID) const
{
    const auto reservation = m_store.reservation(reservationID);
    // Another account's reservation reads as unknown.
    if (!reservation || reservation->accountID != accountID)
        return std::unexpected(errorResponse(404, "reservation_not_found"));
    if (reservation->status != u"open")
        return std::unexpected(errorResponse(409, "reservation_closed"));
    if (m_clock() >= reservation->expiresAt)
        return std::unexpected(errorResponse(409, "reservation_expired"));
    return *reservation;
}

std::expected<UsageReservationRecord, HttpResponse> ConversationEndpoints::headerReservation(
    const HttpRequest& request, const DeviceRecord& device) const
{
    const QString text = QString::fromStdString(std::string(request.header("X-Reservation-ID")));
    if (text.isEmpty())
        return std::unexpected(errorResponse(400, "missing_reservation_id"));
    const QUuid id = text.size() == 36 ? QUuid::fromString(text) : QUuid();
    if (id.isNull())
        return std::unexpected(errorResponse(400, "invalid_reservation_id"));
    return activeReservation(device.accountID, id);
}

HttpResponse ConversationEndpoints::reserve(const HttpRequest& request, const DeviceRecord& device)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    JsonObjectReader reader(*body, QStringLiteral("reserve"));
    const QUuid sessionID = reader.uuid(u"session_id");
    const double requested = reader.number(u"requested_seconds");
    if (reader.failed())
        return invalidRequest();
    if (!std::isfinite(requested) || requested <= 0)
        return errorResponse(400, "invalid_requested_seconds");
    const qint64 now = m_clock();
    const auto session = m_store.session(device.accountID, sessionID);
    if (!session)
        return errorResponse(404, "session_not_found");
    if (now >= session->expiresAt)
        return errorResponse(409, "session_expired");

    UsageReservationRecord reservation;
    reservation.id = QUuid::createUuid();
    reservation.accountID = device.accountID;
    reservation.sessionID = sessionID;
    reservation.maximumSeconds = std::min(requested, maximumReservationSeconds);
    reservation.status = QStringLiteral("open");
    reservation.createdAt = now;
    reservation.expiresAt = now + wholeSeconds(reservation.maximumSeconds) + reservationMargin;
    if (!m_store.addReservation(reservation, now))
        return errorResponse(409, "reservation_already_open");
    return jsonResponse(
        { { "reservation_id", idText(reservation.id) }, { "maximum_seconds", reservation.maximumSeconds } });
}

HttpResponse ConversationEndpoints::finalize(const HttpRequest& request, const DeviceRecord& device)
{
    return close(request, device, QStringLiteral("finalized"));
}

HttpResponse ConversationEndpoints::cancel(const HttpRequest& request, const DeviceRecord& device)
{
    return close(request, device, QStringLiteral("cancelled"));
}

HttpResponse ConversationEndpoints::close(
    const HttpRequest& request, const DeviceRecord& device, const QString& status)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    const bool finalizing = status == u"finalized";
    JsonObjectReader reader(*body, status);
    const QUuid reservationID = reader.uuid(u"reservation_id");
    const qint64 actual = finalizing ? reader.integer(u"actual_seconds") : 0;
    if (reader.failed())
        return invalidRequest();
    if (actual < 0)
        return errorResponse(400, "invalid_actual_seconds");
    // The app cancels on every clean-up path, also after a finalize whose later step failed
    // and again when the conversation is given up: a cancel of a reservation that is already
    // closed keeps what was recorded and answers as done.
    if (!finalizing) {
        const auto known = m_store.reservation(reservationID);
        if (known && known->accountID == device.accountID && known->status != u"open")
            return okResponse();
    }
    const auto reservation = activeReservation(device.accountID, reservationID);
    if (!reservation)
        return reservation.error();
    // A finalized reservation records the seconds used, never more than were granted.
    const auto recorded = finalizing
        ? std::optional<qint64>(std::min(actual, wholeSeconds(reservation->maximumSeconds)))
        : std::nullopt;
    // Closed meanwhile by another request: a cancel still has nothing left to do.
    if (!m_store.closeReservation(reservationID, status, recorded, m_clock()) && finalizing)
        return errorResponse(409, "reservation_closed");
    return okResponse();
}

HttpResponse ConversationEndpoints::speechToken(const HttpRequest& request, const DeviceRecord& device)
{
    if (const auto body = jsonBody(request); !body)
        return body.error();
    const auto reservation = headerReservation(request, device);
    if (!reservation)
        return reservation.error();
    const qint64 now = m_clock();
    const qint64 lifetime = std::min(speechTokenLifetime, reservation->expiresAt - now);
    if (m_settings.speechGrants) {
        if (!m_calls.admit(device.accountID, reservation->id, now))
            return tooManyRequests("too_many_provider_calls", ProviderCallCounter::secondsToNextMinute(now));
        return callProvider(
            request, device, ProviderCallKind::speechGrant,
            [grants = m_settings.speechGrants, lifetime] { return grantResponse(*grants, lifetime); },
            [](const HttpRequest&) { return errorResponse(503, "provider_token_unavailable"); });
    }
    if (!m_settings.speechTokenSecret)
        return errorResponse(503, "speech_not_configured");
    const std::string token = speechtoken::make(
        *m_settings.speechTokenSecret, { idText(reservation->id).toStdString(), now + lifetime });
    return jsonResponse({ { "access_token", QString::fromStdString(token) }, { "expires_in", lifetime } });
}

std::expected<ConversationEndpoints::ReservedBody, HttpResponse> ConversationEndpoints::reservedBody(
    const HttpRequest& request, const DeviceRecord& device) const
{
    const auto body = jsonBody(request);
    if (!body)
        return std::unexpected(body.error());
    auto reservation = headerReservation(request, device);
    if (!reservation)
        return std::unexpected(reservation.error());
    return ReservedBody { *body, std::move(*reservation) };
}

const ConversationAnalyzer& ConversationEndpoints::analyzerFor(const UsageReservationRecord& reservation)
{
    if (m_settings.analyzer != m_rules && m_calls.admit(reservation.accountID, reservation.id, m_clock()))
        return *m_settings.analyzer;
    return *m_rules;
}

template <typename T>
std::expected<T, HttpResponse> ConversationEndpoints::turnsRequest(const QJsonObject& body)
{
    auto payload = recordBody<T>(body);
    if (payload && payload->turns.size() > maximumTurns)
        return std::unexpected(errorResponse(400, "too_many_turns"));
    return payload;
}

HttpResponse ConversationEndpoints::analyze(const HttpRequest& request, const DeviceRecord& device)
{
    const auto reserved = reservedBody(request, device);
    if (!reserved)
        return reserved.error();
    if (const QJsonValue pass = reserved->body.value("pass");
        pass.isString() && !fromString<AnalysisPass>(pass.toString()))
        return errorResponse(400, "unknown_pass");
    const auto payload = turnsRequest<AnalysisProviderPayload>(reserved->body);
    if (!payload)
        return payload.error();
    const ConversationAnalyzer& analyzer = analyzerFor(reserved->reservation);
    if (&analyzer == m_rules.get())
        return analysisResponse(*m_rules, *payload);
    return callProvider(
        request, device, ProviderCallKind::analysis,
        [analyzer = m_settings.analyzer, payload = *payload] { return analysisResponse(*analyzer, payload); },
        [rules = m_rules, payload = *payload](
            const HttpRequest&) { return analysisResponse(*rules, payload); });
}

HttpResponse ConversationEndpoints::nudge(const HttpRequest& request, const DeviceRecord& device)
{
    const auto reserved = reservedBody(request, device);
    if (!reserved)
        return reserved.error();
    const auto payload = turnsRequest<NudgeProviderPayload>(reserved->body);
    if (!payload)
        return payload.error();
    // The window, step and seat rules hold whatever the caller sent.
    const NudgeProviderPayload windowed(
        payload->rubricVersion, payload->turns, payload->currentStep, payload->targetSpeaker);
    const ConversationAnalyzer& analyzer = analyzerFor(reserved->reservation);
    if (&analyzer == m_rules.get())
        return nudgeResponse(*m_rules, windowed);
    return callProvider(
        request, device, ProviderCallKind::analysis,
        [analyzer = m_settings.analyzer, windowed] { return nudgeResponse(*analyzer, windowed); },
        [rules = m_rules, windowed](const HttpRequest&) { return nudgeResponse(*rules, windowed); });
}

HttpResponse ConversationEndpoints::reportUsage(const HttpRequest& request, const DeviceRecord& device)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    const auto sent = recordBody<ProviderUsageReport>(*body);
    if (!sent)
        return sent.error();
    UsageReportRecord report;
    report.accountID = device.accountID;
    report.reservationID = sent->reservationID;
    report.operation = sent->operation;
    report.model = sent->model;
    report.durationSeconds = sent->durationSeconds;
    report.latencyMilliseconds = sent->latencyMS;
    report.statusCode = sent->statusCode;
    if (report.model.isEmpty() || report.model.size() > maximumModelLength || report.durationSeconds < 0
        || report.durationSeconds > maximumReportedSeconds || report.latencyMilliseconds < 0
        || report.statusCode < 100 || report.statusCode > 599)
        return invalidRequest();
    const auto rate = m_settings.usageRatesMicrosPerMinute.find(report.operation);
    if (rate == m_settings.usageRatesMicrosPerMinute.end())
        return errorResponse(400, "invalid_operation");
    if (const auto reservation = activeReservation(device.accountID, report.reservationID); !reservation)
        return reservation.error();
    // Whole micros, rounded up.
    report.estimatedCostMicros = (report.durationSeconds * rate->second + 59) / 60;
    m_store.addUsageReport(report, m_clock());
    return recordResponse(ProviderUsageReceipt { true, report.estimatedCostMicros }.toJson());
}

} // namespace lumora
