#include "controlplane/AccountEndpoints.hpp"

#include "controlplane/JsonReplies.hpp"
#include "controlplane/Router.hpp"
#include "domain/JsonObjectReader.hpp"

#include <QStringList>

namespace lumora {

namespace {

constexpr auto maximumTextLength = 200;

const QStringList diagnosticEventTypes { "unclean_termination", "update_failed", "provider_degraded" };
const QStringList productEventTypes { "app_opened", "result_reviewed" };

} // namespace

AccountEndpoints::AccountEndpoints(
    ControlPlaneStore& store, const ContentSeal& seal, std::function<qint64()> clock)
    : m_store(store)
    , m_seal(seal)
    , m_clock(std::move(clock))
{
}

void AccountEndpoints::addRoutes(Router& router)
{
    using A = AccountEndpoints;
    router.addSignedRoute("/v1/account/state", "GET", *this, &A::accountState);
    router.addSignedRoute("/v1/sessions/draft", "POST", *this, &A::createSessionDraft);
    router.addSignedRoute("/v1/sessions/current", "GET", *this, &A::currentSession);
    router.addSignedRoute("/v1/diagnostics", "POST", *this, &A::reportDiagnostic);
    router.addSignedRoute("/v1/analytics/product", "POST", *this, &A::reportProductEvent);
    router.addSignedRoute("/v1/devices/revoke", "POST", *this, &A::revokeDevice);
    router.addSignedRoute("/v1/account/delete", "POST", *this, &A::deleteAccount);
}

HttpResponse AccountEndpoints::accountState(const HttpRequest&, const DeviceRecord& device)
{
    return registrationResponse(device.accountID, device.id);
}

HttpResponse AccountEndpoints::createSessionDraft(const HttpRequest& request, const DeviceRecord& device)
{
    if (const auto body = jsonBody(request); !body)
        return body.error();
    const qint64 now = m_clock();
    const ConversationSessionRecord session { QUuid::createUuid(), QStringLiteral("draft"),
        now + sessionDraftLifetime };
    m_store.addConversationSession(device.accountID, session, now);
    return jsonResponse({ { "session_id", idText(session.id) }, { "status", session.status },
        { "expires_at", session.expiresAt } });
}

HttpResponse AccountEndpoints::currentSession(const HttpRequest&, const DeviceRecord& device)
{
    const auto session = m_store.currentConversationSession(device.accountID, m_clock());
    if (!session)
        return jsonResponse({ { "session_id", QJsonValue::Null }, { "status", QJsonValue::Null },
            { "expires_at", QJsonValue::Null } });
    return jsonResponse({ { "session_id", idText(session->id) }, { "status", session->status },
        { "expires_at", session->expiresAt } });
}

HttpResponse AccountEndpoints::reportDiagnostic(const HttpRequest& request, const DeviceRecord& device)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    JsonObjectReader reader(*body, QStringLiteral("diagnostic"));
    DiagnosticRecord record { device.accountID, device.id, reader.string(u"event_type"),
        reader.string(u"status") };
    if (reader.failed() || record.status.size() > maximumTextLength)
        return invalidRequest();
    if (!diagnosticEventTypes.contains(record.eventType))
        return errorResponse(400, "invalid_event_type");
    m_store.addDiagnostic(record, m_clock());
    return okResponse();
}

HttpResponse AccountEndpoints::reportProductEvent(const HttpRequest& request, const DeviceRecord& device)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    JsonObjectReader reader(*body, QStringLiteral("product event"));
    ProductEventRecord record;
    record.accountID = device.accountID;
    record.deviceID = device.id;
    record.eventID = reader.uuid(u"event_id");
    record.eventType = reader.string(u"event_type");
    record.appVersion = reader.string(u"app_version");
    record.occurredAt = reader.integer(u"occurred_at");
    if (reader.failed() || record.appVersion.size() > maximumTextLength)
        return invalidRequest();
    if (!productEventTypes.contains(record.eventType))
        return errorResponse(400, "invalid_event_type");
    m_store.addProductEvent(record, m_clock());
    return okResponse();
}

HttpResponse AccountEndpoints::revokeDevice(const HttpRequest& request, const DeviceRecord& device)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    JsonObjectReader reader(*body, QStringLiteral("revoke"));
    const QUuid target = reader.uuid(u"device_id");
    if (reader.failed())
        return invalidRequest();
    // Only devices of the caller's own account; any other id reads as unknown.
    if (!m_store.revokeDevice(device.accountID, target, m_clock()))
        return errorResponse(404, "device_not_found");
    return okResponse();
}

HttpResponse AccountEndpoints::deleteAccount(const HttpRequest& request, const DeviceRecord& device)
{
    if (const auto body = jsonBody(request); !body)
        return body.error();
    m_store.deleteAccount(device.accountID, m_seal, m_clock());
    return okResponse();
}

} // namespace lumora
