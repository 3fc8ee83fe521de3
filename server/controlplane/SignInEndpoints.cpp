#include "controlplane/SignInEndpoints.hpp"

#include "common/DeferredResponse.hpp"
#include "controlplane/JsonReplies.hpp"
#include "controlplane/RequestAuthenticator.hpp"
#include "controlplane/Router.hpp"
#include "controlplane/SignInStartStore.hpp"
#include "controlplane/SignInWriter.hpp"
#include "domain/JsonObjectReader.hpp"
#include "security/P256PublicKey.hpp"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QUrlQuery>
#include <algorithm>
#include <array>

namespace lumora {

namespace {

constexpr auto maximumNameLength = 100;
constexpr auto maximumTextLength = 200;

HttpResponse htmlResponse(int status, const QString& html)
{
    return HttpResponse {
        .status = status, .contentType = "text/html; charset=utf-8", .body = html.toStdString(), .headers = {}
    };
}

// The application's value for one sign-in attempt: base64url text, long enough not to be
// guessed, short enough for a URL.
bool isStateText(const QString& text)
{
    return text.size() >= 22 && text.size() <= maximumTextLength && std::ranges::all_of(text, [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-'
            || c == u'_';
    });
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

HttpResponse registrationOf(const DeviceRecord& device)
{
    return registrationResponse(device.accountID, device.id);
}

HttpResponse notConfigured()
{
    return errorResponse(503, "apple_sign_in_not_configured");
}

// The answer to a start: its page's address when it was taken.
HttpResponse startAnswer(const SignInOutcome& outcome, const QString& page)
{
    if (outcome)
        return jsonResponse({ { "authorization_url", page } });
    if (outcome.error().reason == SignInRequestRefusal::Reason::stateInUse)
        return errorResponse(409, "state_in_use");
    // When the requests stored so far let the same start through.
    HttpResponse refusal = errorResponse(429, "too_many_sign_ins");
    refusal.headers.emplace_back(
        "Retry-After", std::to_string(std::max<qint64>(outcome.error().retryAfter, 1)));
    return refusal;
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

SignInEndpoints::SignInEndpoints(ControlPlaneStore& store, RequestAuthenticator& authenticator,
    bool devSignIn, QUrl publicUrl, SignInLimits limits, std::function<qint64()> clock, SignInWriter* writer)
    : m_store(store)
    , m_authenticator(authenticator)
    , m_devSignIn(devSignIn)
    , m_publicUrl(std::move(publicUrl))
    , m_limits(limits)
    , m_clock(std::move(clock))
    , m_writer(writer)
{
}

void SignInEndpoints::addRoutes(Router& router)
{
    using S = SignInEndpoints;
    router.addOpenRoute("/v1/auth/device/recover", "POST", *this, &S::recoverDevice);
    router.addOpenRoute("/v1/auth/apple/web/start", "POST", *this, &S::startWebSignIn);
    router.addOpenRoute("/v1/auth/apple/web/complete", "POST", *this, &S::completeWebSignIn);
    router.addOpenRoute("/v1/auth/apple", "POST", *this, &S::registerIdentityToken);
    router.addOpenRoute("/dev/sign-in", "GET", *this, &S::devSignInPage);
    router.addOpenRoute("/dev/sign-in", "POST", *this, &S::devSignInSubmit);
}

HttpResponse SignInEndpoints::recoverDevice(const HttpRequest& request)
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
    return registrationOf(*device);
}

HttpResponse SignInEndpoints::startWebSignIn(const HttpRequest& request)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    JsonObjectReader reader(*body, QStringLiteral("start"));
    SignInRequestRecord record;
    record.devicePublicKey = reader.string(u"device_public_key");
    record.platform = reader.string(u"platform");
    record.state = reader.string(u"state");
    if (reader.failed() || !isPublicKeyText(record.devicePublicKey) || record.platform.isEmpty()
        || record.platform.size() > maximumTextLength || !isStateText(record.state))
        return invalidRequest();
    if (!m_devSignIn)
        return notConfigured();
    record.id = QUuid::createUuid();
    record.createdAt = m_clock();
    // A state belongs to one attempt: taken again, a ticket of another attempt could return to
    // the application with the state its own attempt started with. A state stays taken while its
    // request is kept (while a ticket issued for it may still be redeemed), lapsed or not: the
    // application makes a fresh one for each start.
    SignInSource source { QString::fromStdString(request.client), QString::fromStdString(request.network) };
    const QString page = signInPageAddress(record.id);
    if (!m_writer) {
        const auto decided
            = SignInStartStore(m_store, m_limits, signInLifetime).add({ SignInStart { record, source } });
        return startAnswer(decided.front()->outcome, page);
    }
    auto deferred = std::make_shared<DeferredResponse>();
    const auto refused
        = m_writer->start(record, std::move(source), [deferred, page](std::optional<SignInOutcome> outcome) {
              deferred->complete(
                  outcome ? startAnswer(*outcome, page) : errorResponse(503, "storage_unavailable"));
          });
    if (refused)
        return startAnswer(std::unexpected(*refused), page);
    return DeferredResponse::later(std::move(deferred));
}

HttpResponse SignInEndpoints::completeWebSignIn(const HttpRequest& request)
{
    const auto body = jsonBody(request);
    if (!body)
        return body.error();
    JsonObjectReader reader(*body, QStringLiteral("complete"));
    const QString ticket = reader.string(u"ticket");
    const QString state = reader.string(u"state");
    if (reader.failed() || ticket.isEmpty() || ticket.size() > maximumTextLength || !isStateText(state))
        return invalidRequest();
    if (!m_devSignIn)
        return notConfigured();
    const QString hash = ticketHash(ticket);
    const auto pending = m_store.signInRequestForTicket(hash);
    if (!pending || pending->redeemed || !pending->ticketIssuedAt)
        return errorResponse(400, "invalid_ticket");
    if (m_clock() - *pending->ticketIssuedAt > signInLifetime)
        return errorResponse(400, "ticket_expired");
    // Anyone may start a sign-in for a public key they have seen; only the key's holder may
    // bind it, by signing the redeeming request with it. A refusal leaves the ticket as it is.
    if (auto verified = m_authenticator.authenticateRecovery(request, pending->devicePublicKey); !verified)
        return errorResponse(401, toString(verified.error()).toStdString());
    // The ticket completes only the attempt it was issued for: a ticket someone else started
    // for this key, handed over as a link, carries their state, never the application's.
    if (pending->state != state)
        return errorResponse(400, "state_mismatch");
    const auto device = m_store.redeemTicket(hash, m_clock());
    // It no longer holds a place among its network's open requests.
    if (m_writer)
        m_writer->redeemed(pending->network);
    if (!device && device.error() == TicketRefusal::keyActiveInAnotherAccount)
        return errorResponse(409, "device_key_in_use");
    if (!device)
        return errorResponse(400, "invalid_ticket");
    return registrationOf(*device);
}

HttpResponse SignInEndpoints::registerIdentityToken(const HttpRequest& request)
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

HttpResponse SignInEndpoints::devSignInPage(const HttpRequest& request)
{
    if (!m_devSignIn)
        return notConfigured();
    const QUrlQuery query(QString::fromStdString(request.query));
    const QUuid requestID = QUuid::fromString(query.queryItemValue(QStringLiteral("request")));
    const auto pending = requestID.isNull() ? std::nullopt : m_store.signInRequest(requestID);
    if (!pending || pending->accountName || pending->superseded
        || m_clock() - pending->createdAt > signInLifetime)
        return htmlResponse(404,
            QStringLiteral("<!DOCTYPE html>\n<p>This sign-in link is no longer valid. "
                           "Start signing in again from Lumora.</p>\n"));
    return htmlResponse(200, signInPageHtml(requestID));
}

HttpResponse SignInEndpoints::devSignInSubmit(const HttpRequest& request)
{
    if (!m_devSignIn)
        return notConfigured();
    const QUrlQuery form = formFields(request.body);
    const QUuid requestID
        = QUuid::fromString(form.queryItemValue(QStringLiteral("request"), QUrl::FullyDecoded));
    const QString name = form.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded).trimmed();
    if (requestID.isNull() || name.isEmpty() || name.size() > maximumNameLength)
        return invalidRequest();
    const auto pending = m_store.signInRequest(requestID);
    const qint64 now = m_clock();
    if (!pending || pending->superseded || now - pending->createdAt > signInLifetime)
        return errorResponse(404, "sign_in_request_not_found");
    const QString ticket = newTicket();
    if (!m_store.issueTicket(requestID, ticketHash(ticket), name, now))
        return errorResponse(409, "sign_in_request_used");
    HttpResponse response {
        .status = 302, .contentType = "text/plain; charset=utf-8", .body = {}, .headers = {}
    };
    QUrlQuery callback;
    callback.addQueryItem(QStringLiteral("ticket"), ticket);
    callback.addQueryItem(QStringLiteral("state"), pending->state);
    response.headers.emplace_back(
        "Location", "lumora://apple-auth?" + callback.toString(QUrl::FullyEncoded).toStdString());
    return response;
}

QString SignInEndpoints::signInPageAddress(const QUuid& requestID) const
{
    QUrl page = m_publicUrl;
    page.setPath(QStringLiteral("/dev/sign-in"));
    page.setQuery(QStringLiteral("request=") + idText(requestID));
    return page.toString(QUrl::FullyEncoded);
}

} // namespace lumora
