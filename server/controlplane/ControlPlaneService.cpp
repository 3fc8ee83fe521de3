#include "controlplane/ControlPlaneService.hpp"

#include "controlplane/JsonReplies.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "security/P256PublicKey.hpp"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUrlQuery>
#include <array>

namespace lumora {

namespace {

constexpr auto maximumNameLength = 100;
constexpr auto maximumTextLength = 200;

const QStringList diagnosticEventTypes { "unclean_termination", "update_failed", "provider_degraded" };
const QStringList productEventTypes { "app_opened", "result_reviewed" };

HttpResponse htmlResponse(int status, const QString& html)
{
    return HttpResponse {
        .status = status, .contentType = "text/html; charset=utf-8", .body = html.toStdString(), .headers = {}
    };
}

// A device public key: the base64url text of an uncompressed point on P-256.
bool isPublicKeyText(const QString& text)
{
    return P256PublicKey::fromBase64Url(text).has_value();
}

QString ticketHash(const QString& ticket)
{
    return QString::fromLatin1(QCryptographicHash::hash(ticket.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString newTicket()
{
    std::array<quint32, 8> words {};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), sizeof(words));
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// Form fields of an application/x-www-form-urlencoded body ("+" is a space there).
QUrlQuery formFields(const std::string& body)
{
    QString text = QString::fromUtf8(body);
    text.replace(u'+', QStringLiteral("%20"));
    return QUrlQuery(text);
}

HttpResponse registrationResponse(const DeviceRecord& device)
{
    return jsonResponse({ { "account_id", idText(device.accountID) }, { "device_id", idText(device.id) } });
}

HttpResponse notConfigured()
{
    return errorResponse(503, "apple_sign_in_not_configured");
}

QString signInPageHtml(const QUuid& requestID)
{
    return QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Lumora development "
        "sign-in</title>"
        "</head>\n<body><h1>Development sign-in</h1>\n"
        "<p>This control plane runs with the development sign-in: any name signs in to the account of that "
        "name.</p>\n"
        "<form method=\"post\" action=\"/dev/sign-in\">\n"
        "<input type=\"hidden\" name=\"request\" value=\"%1\">\n"
        "<label>Name <input type=\"text\" name=\"name\" maxlength=\"%2\" required autofocus></label>\n"
        "<button type=\"submit\">Sign in</button>\n</form></body></html>\n")
        .arg(idText(requestID))
        .arg(maximumNameLength);
}

} // namespace

ControlPlaneService::ControlPlaneService(
    ControlPlaneStore& store, ControlPlaneServiceSettings settings, std::function<qint64()> clock)
    : m_store(store)
    , m_settings(std::move(settings))
    , m_clock(clock)
    , m_authenticator(store, clock)
    , m_conversation(store, m_settings.conversation, clock)
    , m_checkins(store, clock)
    , m_pairing(store, clock, m_settings.pairing)
    , m_conversationContent(store, clock, m_settings.conversationDeletionLifetime)
{
    using S = ControlPlaneService;
    auto open = [this](HttpResponse (S::*handler)(const HttpRequest&)) {
        return [this, handler](const HttpRequest& request) { return (this->*handler)(request); };
    };
    auto signedBy = [this](HttpResponse (S::*handler)(const HttpRequest&, const DeviceRecord&)) {
        return [this, handler](const HttpRequest& request, const DeviceRecord& device) {
            return (this->*handler)(request, device);
        };
    };
    addOpenRoute("/v1/auth/device/recover", "POST", open(&S::recoverDevice));
    addOpenRoute("/v1/auth/apple/web/start", "POST", open(&S::startWebSignIn));
    addOpenRoute("/v1/auth/apple/web/complete", "POST", open(&S::completeWebSignIn));
    addOpenRoute("/v1/auth/apple", "POST", open(&S::registerIdentityToken));
    addOpenRoute("/dev/sign-in", "GET", open(&S::devSignInPage));
    addOpenRoute("/dev/sign-in", "POST", open(&S::devSignInSubmit));
    addSignedRoute("/v1/account/state", "GET", signedBy(&S::accountState));
    addSignedRoute("/v1/sessions/draft", "POST", signedBy(&S::createSessionDraft));
    addSignedRoute("/v1/sessions/current", "GET", signedBy(&S::currentSession));
    addSignedRoute("/v1/diagnostics", "POST", signedBy(&S::reportDiagnostic));
    addSignedRoute("/v1/analytics/product", "POST", signedBy(&S::reportProductEvent));
    addSignedRoute("/v1/devices/revoke", "POST", signedBy(&S::revokeDevice));
    addSignedRoute("/v1/account/delete", "POST", signedBy(&S::deleteAccount));
    m_checkins.addRoutes(*this);
    m_conversation.addRoutes(*this);
    m_pairing.addRoutes(*this);
    m_conversationContent.addRoutes(*this);
}

HttpResponse ControlPlaneService::handle(const HttpRequest& request)
{
    try {
        return dispatch(request);
    } catch (const StoreFailure& failure) {
        qWarning("storage failed: %s", failure.what());
        return errorResponse(503, "storage_unavailable");
    }
}

bool ControlPlaneService::matches(std::string_view pattern, std::string_view path)
{
    // Segment by segment; "{}" stands for any one non-empty segment.
    while (!pattern.empty() && !path.empty()) {
        const auto patternEnd = pattern.find('/', 1);
        const auto pathEnd = path.find('/', 1);
        const std::string_view patternSegment = pattern.substr(0, patternEnd);
        const std::string_view pathSegment = path.substr(0, pathEnd);
        if (patternSegment == "/{}" ? pathSegment.size() < 2 : patternSegment != pathSegment)
            return false;
        pattern = patternEnd == std::string_view::npos ? std::string_view {} : pattern.substr(patternEnd);
        path = pathEnd == std::string_view::npos ? std::string_view {} : path.substr(pathEnd);
    }
    return pattern.empty() && path.empty();
}

void ControlPlaneService::addOpenRoute(std::string path, std::string method, OpenHandler handler)
{
    m_routes.push_back(Route { std::move(path), std::move(method), std::move(handler), {} });
}

void ControlPlaneService::addSignedRoute(std::string path, std::string method, SignedHandler handler)
{
    m_routes.push_back(Route { std::move(path), std::move(method), {}, std::move(handler) });
}

HttpResponse ControlPlaneService::dispatch(const HttpRequest& request)
{
    std::string allowed;
    for (const Route& route : m_routes) {
        if (!matches(route.path, request.path))
            continue;
        if (request.method != route.method) {
            allowed += allowed.empty() ? route.method : ", " + route.method;
            continue;
        }
        if (route.open)
            return route.open(request);
        const auto device = m_authenticator.authenticateDevice(request);
        if (!device)
            return errorResponse(401, toString(device.error()).toStdString());
        return route.signedCall(request, *device);
    }
    if (allowed.empty())
        return errorResponse(404, "not_found");
    HttpResponse response = errorResponse(405, "method_not_allowed");
    response.headers.emplace_back("Allow", allowed);
    return response;
}

HttpResponse ControlPlaneService::recoverDevice(const HttpRequest& request)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    JsonObjectReader reader(*body, QStringLiteral("recover"));
    const QString publicKey = reader.string(u"device_public_key");
    if (reader.failed() || !isPublicKeyText(publicKey))
        return invalidRequest();
    if (auto verified = m_authenticator.authenticateRecovery(request, publicKey); !verified)
        return errorResponse(401, toString(verified.error()).toStdString());
    const auto device = m_store.activeDeviceWithKey(publicKey);
    if (!device)
        return errorResponse(401, "unknown_device");
    return registrationResponse(*device);
}

HttpResponse ControlPlaneService::startWebSignIn(const HttpRequest& request)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    JsonObjectReader reader(*body, QStringLiteral("start"));
    SignInRequestRecord record;
    record.devicePublicKey = reader.string(u"device_public_key");
    record.platform = reader.string(u"platform");
    if (reader.failed() || !isPublicKeyText(record.devicePublicKey) || record.platform.isEmpty()
        || record.platform.size() > maximumTextLength)
        return invalidRequest();
    if (!m_settings.devSignIn)
        return notConfigured();
    record.id = QUuid::createUuid();
    record.createdAt = m_clock();
    m_store.addSignInRequest(record);
    return jsonResponse({ { "authorization_url", signInPageAddress(record.id) } });
}

HttpResponse ControlPlaneService::completeWebSignIn(const HttpRequest& request)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    JsonObjectReader reader(*body, QStringLiteral("complete"));
    const QString ticket = reader.string(u"ticket");
    if (reader.failed() || ticket.isEmpty() || ticket.size() > maximumTextLength)
        return invalidRequest();
    if (!m_settings.devSignIn)
        return notConfigured();
    const QString hash = ticketHash(ticket);
    const auto pending = m_store.signInRequestForTicket(hash);
    if (!pending || pending->redeemed || !pending->ticketIssuedAt)
        return errorResponse(400, "invalid_ticket");
    if (m_clock() - *pending->ticketIssuedAt > signInLifetime)
        return errorResponse(400, "ticket_expired");
    const auto device = m_store.redeemTicket(hash, m_clock());
    if (!device && device.error() == TicketRefusal::keyActiveInAnotherAccount)
        return errorResponse(409, "device_key_in_use");
    if (!device)
        return errorResponse(400, "invalid_ticket");
    return registrationResponse(*device);
}

HttpResponse ControlPlaneService::registerIdentityToken(const HttpRequest& request)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    JsonObjectReader reader(*body, QStringLiteral("register"));
    reader.string(u"identity_token");
    const QString publicKey = reader.string(u"device_public_key");
    reader.string(u"platform");
    if (reader.failed() || !isPublicKeyText(publicKey))
        return invalidRequest();
    // No identity provider is configured on this server: identity tokens cannot be checked.
    return notConfigured();
}

HttpResponse ControlPlaneService::devSignInPage(const HttpRequest& request)
{
    if (!m_settings.devSignIn)
        return notConfigured();
    const QUrlQuery query(QString::fromStdString(request.query));
    const QUuid requestID = QUuid::fromString(query.queryItemValue(QStringLiteral("request")));
    const auto pending = requestID.isNull() ? std::nullopt : m_store.signInRequest(requestID);
    if (!pending || pending->accountName || m_clock() - pending->createdAt > signInLifetime)
        return htmlResponse(404,
            QStringLiteral("<!DOCTYPE html>\n<p>This sign-in link is no longer valid. "
                           "Start signing in again from Lumora.</p>\n"));
    return htmlResponse(200, signInPageHtml(requestID));
}

HttpResponse ControlPlaneService::devSignInSubmit(const HttpRequest& request)
{
    if (!m_settings.devSignIn)
        return notConfigured();
    const QUrlQuery form = formFields(request.body);
    const QUuid requestID
        = QUuid::fromString(form.queryItemValue(QStringLiteral("request"), QUrl::FullyDecoded));
    const QString name = form.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded).trimmed();
    if (requestID.isNull() || name.isEmpty() || name.size() > maximumNameLength)
        return invalidRequest();
    const auto pending = m_store.signInRequest(requestID);
    const qint64 now = m_clock();
    if (!pending || now - pending->createdAt > signInLifetime)
        return errorResponse(404, "sign_in_request_not_found");
    const QString ticket = newTicket();
    if (!m_store.issueTicket(requestID, ticketHash(ticket), name, now))
        return errorResponse(409, "sign_in_request_used");
    HttpResponse response {
        .status = 302, .contentType = "text/plain; charset=utf-8", .body = {}, .headers = {}
    };
    response.headers.emplace_back("Location", "lumora://apple-auth?ticket=" + ticket.toStdString());
    return response;
}

HttpResponse ControlPlaneService::accountState(const HttpRequest&, const DeviceRecord& device)
{
    return registrationResponse(device);
}

HttpResponse ControlPlaneService::createSessionDraft(const HttpRequest& request, const DeviceRecord& device)
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

HttpResponse ControlPlaneService::currentSession(const HttpRequest&, const DeviceRecord& device)
{
    const auto session = m_store.currentConversationSession(device.accountID, m_clock());
    if (!session)
        return jsonResponse({ { "session_id", QJsonValue::Null }, { "status", QJsonValue::Null },
            { "expires_at", QJsonValue::Null } });
    return jsonResponse({ { "session_id", idText(session->id) }, { "status", session->status },
        { "expires_at", session->expiresAt } });
}

HttpResponse ControlPlaneService::reportDiagnostic(const HttpRequest& request, const DeviceRecord& device)
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

HttpResponse ControlPlaneService::reportProductEvent(const HttpRequest& request, const DeviceRecord& device)
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

HttpResponse ControlPlaneService::revokeDevice(const HttpRequest& request, const DeviceRecord& device)
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

HttpResponse ControlPlaneService::deleteAccount(const HttpRequest& request, const DeviceRecord& device)
{
    if (const auto body = jsonBody(request); !body)
        return body.error();
    m_store.deleteAccount(device.accountID);
    return okResponse();
}

QString ControlPlaneService::signInPageAddress(const QUuid& requestID) const
{
    QUrl page = m_settings.publicUrl;
    page.setPath(QStringLiteral("/dev/sign-in"));
    page.setQuery(QStringLiteral("request=") + idText(requestID));
    return page.toString(QUrl::FullyEncoded);
}

} // namespace lumora
