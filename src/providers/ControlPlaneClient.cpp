#include "providers/ControlPlaneClient.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "providers/ProvidersLog.hpp"
#include "security/RequestSigner.hpp"

#include <QLoggingCategory>
#include <QNetworkReply>
#include <QTimeZone>

namespace lumora {

namespace {

// The draft reply: every key required.
struct SessionDraftReply {
    QUuid sessionID;
    QString status;
    qint64 expiresAt = 0;

    static std::expected<SessionDraftReply, JsonDecodeError> fromJson(const QJsonValue& value)
    {
        JsonObjectReader reader(value, QStringLiteral("SessionDraftReply"));
        SessionDraftReply reply;
        reply.sessionID = reader.uuid(u"sessionID");
        reply.status = reader.string(u"status");
        reply.expiresAt = reader.integer(u"expiresAt");
        return finish(reader, std::move(reply));
    }
};

// The current-session reply: each key may be absent or null.
struct CurrentSessionReply {
    std::optional<QUuid> sessionID;
    std::optional<QString> status;
    std::optional<qint64> expiresAt;

    static std::expected<CurrentSessionReply, JsonDecodeError> fromJson(const QJsonValue& value)
    {
        JsonObjectReader reader(value, QStringLiteral("CurrentSessionReply"));
        CurrentSessionReply reply;
        reply.sessionID = optionalUuid(reader, u"sessionID");
        reply.status = reader.optionalString(u"status");
        reply.expiresAt = reader.optionalInteger(u"expiresAt");
        return finish(reader, std::move(reply));
    }
};

// Replies that only acknowledge: "ok" must be present; its value is not examined.
struct AcknowledgementReply {
    bool ok = false;

    static std::expected<AcknowledgementReply, JsonDecodeError> fromJson(const QJsonValue& value)
    {
        JsonObjectReader reader(value, QStringLiteral("AcknowledgementReply"));
        AcknowledgementReply reply;
        reply.ok = reader.boolean(u"ok");
        return finish(reader, reply);
    }
};

QDateTime unixTime(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc());
}

} // namespace

std::expected<ControlPlaneErrorResponse, JsonDecodeError> ControlPlaneErrorResponse::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ControlPlaneErrorResponse"));
    ControlPlaneErrorResponse response;
    response.error = reader.string(u"error");
    return finish(reader, std::move(response));
}

ControlPlaneClient::ControlPlaneClient(
    QUrl baseURL, QUuid deviceID, DeviceIdentity identity, QNetworkAccessManager& session, Clock clock)
    : m_baseURL(std::move(baseURL))
    , m_deviceID(deviceID)
    , m_identity(std::move(identity))
    , m_session(&session)
    , m_decoder(makeControlPlaneDecoder())
    , m_clock(std::move(clock))
{
}

QCoro::Task<std::expected<ReplyBody, ControlPlaneFailure>> ControlPlaneClient::rawSend(
    QString path, QString method, QueryItems query, QByteArray body, std::optional<QUuid> reservationID) const
{
    struct Signed {
        std::expected<SignedRequestHeaders, CryptoError> headers;
    };
    const auto signing = startOffThread([identity = m_identity, deviceID = m_deviceID, method, path, body,
                                            now = m_clock(), nonce = QUuid::createUuid()] {
        return Signed { RequestSigner::sign(identity, deviceID, method, path, body, now, nonce) };
    });
    const auto headers = (*co_await qCoro(signing).waitForFinished()).headers;
    if (!headers)
        co_return std::unexpected(ControlPlaneFailure(headers.error()));
    const auto url = controlplanehttp::requestUrl(m_baseURL, path, query);
    if (!url)
        co_return std::unexpected(ControlPlaneFailure(ControlPlaneError::invalidResponse()));

    QNetworkRequest request = controlplanehttp::jsonRequest(*url);
    request.setRawHeader("Authorization", headers->authorization().toUtf8());
    if (reservationID)
        request.setRawHeader("X-Reservation-ID", uuidText(*reservationID, UuidCase::lower).toLatin1());
    if (!m_session)
        co_return std::unexpected(ControlPlaneFailure(TransportError {
            QNetworkReply::OperationCanceledError, QStringLiteral("the application is closing") }));
    auto reply = co_await controlplanehttp::send(*m_session, request, method.toUtf8(), body);
    if (!reply)
        co_return std::unexpected(reply.error());
    if (reply->status >= 200 && reply->status <= 299)
        co_return ReplyBody { std::move(reply->body) };

    const auto refusal = m_decoder.decode<ControlPlaneErrorResponse>(reply->body);
    if (!refusal)
        co_return std::unexpected(ControlPlaneFailure(ControlPlaneError::rejected(reply->status)));
    qCCritical(controlPlaneLog, "Control plane rejected request with status %ld, code %s",
        static_cast<long>(reply->status), qUtf8Printable(refusal->error));
    co_return std::unexpected(
        ControlPlaneFailure(ControlPlaneError::rejectedWithCode(reply->status, refusal->error)));
}

QCoro::Task<std::expected<AccountState, ControlPlaneFailure>> ControlPlaneClient::accountState() const
{
    return sendAccount<AccountState>(
        QStringLiteral("/v1/account/state"), QStringLiteral("GET"), QByteArray());
}

QCoro::Task<std::expected<ConversationSessionState, ControlPlaneFailure>>
ControlPlaneClient::createConversationSession() const
{
    auto reply = co_await sendAccount<SessionDraftReply>(QStringLiteral("/v1/sessions/draft"), QByteArray());
    if (!reply)
        co_return std::unexpected(reply.error());
    co_return ConversationSessionState { reply->sessionID, reply->status, unixTime(reply->expiresAt) };
}

QCoro::Task<std::expected<ConversationSessionState, ControlPlaneFailure>>
ControlPlaneClient::currentConversationSession() const
{
    auto reply = co_await sendAccount<CurrentSessionReply>(
        QStringLiteral("/v1/sessions/current"), QStringLiteral("GET"), QByteArray());
    if (!reply)
        co_return std::unexpected(reply.error());
    ConversationSessionState state { reply->sessionID, reply->status, std::nullopt };
    if (reply->expiresAt)
        state.expiresAt = unixTime(*reply->expiresAt);
    co_return state;
}

QCoro::Task<std::expected<void, ControlPlaneFailure>> ControlPlaneClient::reportDiagnostic(
    DiagnosticEventType event, QString status) const
{
    const QJsonObject payload { { QStringLiteral("eventType"), toString(event) },
        { QStringLiteral("status"), status } };
    return sendAcknowledged(QStringLiteral("/v1/diagnostics"), m_encoder.encode(payload));
}

QCoro::Task<std::expected<void, ControlPlaneFailure>> ControlPlaneClient::reportProductEvent(
    ProductAnalyticsEvent event, QString appVersion) const
{
    // Whole seconds, the fraction dropped toward zero, as in request signatures.
    const qint64 occurredAt = RequestSigner::timestamp(m_clock()).value_or(0);
    const QJsonObject payload { { QStringLiteral("eventID"), uuidText(QUuid::createUuid(), UuidCase::upper) },
        { QStringLiteral("eventType"), toString(event) }, { QStringLiteral("appVersion"), appVersion },
        { QStringLiteral("occurredAt"), occurredAt } };
    return sendAcknowledged(QStringLiteral("/v1/analytics/product"), m_encoder.encode(payload));
}

QCoro::Task<std::expected<void, ControlPlaneFailure>> ControlPlaneClient::revoke(QUuid deviceID) const
{
    const QJsonObject payload { { QStringLiteral("deviceID"), uuidText(deviceID, UuidCase::upper) } };
    return sendAcknowledged(QStringLiteral("/v1/devices/revoke"), m_encoder.encode(payload));
}

QCoro::Task<std::expected<void, ControlPlaneFailure>> ControlPlaneClient::deleteAccount() const
{
    return sendAcknowledged(QStringLiteral("/v1/account/delete"), QByteArray());
}

QCoro::Task<std::expected<void, ControlPlaneFailure>> ControlPlaneClient::sendAcknowledged(
    QString path, QByteArray body) const
{
    auto reply = co_await sendAccount<AcknowledgementReply>(
        std::move(path), QStringLiteral("POST"), std::move(body));
    if (!reply)
        co_return std::unexpected(reply.error());
    co_return {};
}

} // namespace lumora
