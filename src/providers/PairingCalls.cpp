// The partner-pairing operations of ControlPlaneClient.
#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "providers/ControlPlaneClient.hpp"

namespace lumora {

namespace {

// The pairing records read the control plane's snake_case keys ("invite_id") themselves, so
// the reply reaches them as it came: running the client's key conversion first would hand
// them "inviteID" and every reply would fail to decode.
template <typename T>
std::expected<T, ControlPlaneFailure> decodePairingReply(
    const std::expected<ReplyBody, ControlPlaneFailure>& reply)
{
    if (!reply)
        return std::unexpected(reply.error());
    auto decoded = decodeJson<T>(reply->data);
    if (!decoded)
        return std::unexpected(ControlPlaneFailure(decoded.error()));
    return std::move(*decoded);
}

} // namespace

QCoro::Task<std::expected<PairingInvite, ControlPlaneFailure>> ControlPlaneClient::createPairingInvite(
    QString policyVersion) const
{
    const QJsonObject payload { { QStringLiteral("policyVersion"), policyVersion } };
    const auto reply = co_await rawSend(QStringLiteral("/v1/pairing/invites"), QStringLiteral("POST"), {},
        m_encoder.encode(payload), std::nullopt);
    co_return decodePairingReply<PairingInvite>(reply);
}

QCoro::Task<std::expected<PairingRedemption, ControlPlaneFailure>> ControlPlaneClient::redeemPairingInvite(
    QString code) const
{
    const QJsonObject payload { { QStringLiteral("code"), code } };
    const auto reply = co_await rawSend(QStringLiteral("/v1/pairing/invites/redeem"), QStringLiteral("POST"),
        {}, m_encoder.encode(payload), std::nullopt);
    co_return decodePairingReply<PairingRedemption>(reply);
}

QCoro::Task<std::expected<PairingConfirmation, ControlPlaneFailure>> ControlPlaneClient::confirmPairingInvite(
    QUuid inviteID, QString policyVersion) const
{
    const QJsonObject payload { { QStringLiteral("inviteID"), uuidText(inviteID, UuidCase::lower) },
        { QStringLiteral("policyVersion"), policyVersion } };
    const auto reply = co_await rawSend(QStringLiteral("/v1/pairing/invites/confirm"), QStringLiteral("POST"),
        {}, m_encoder.encode(payload), std::nullopt);
    co_return decodePairingReply<PairingConfirmation>(reply);
}

QCoro::Task<std::expected<void, ControlPlaneFailure>> ControlPlaneClient::unlinkPairing() const
{
    // {"ok": false} is an acknowledgement like {"ok": true}; only a missing "ok" fails.
    return sendAcknowledged(QStringLiteral("/v1/pairing/unlink"), QByteArray());
}

QCoro::Task<std::expected<PairingState, ControlPlaneFailure>> ControlPlaneClient::pairingState() const
{
    const auto reply
        = co_await rawSend(QStringLiteral("/v1/pairing/state"), QStringLiteral("GET"), {}, {}, std::nullopt);
    co_return decodePairingReply<PairingState>(reply);
}

} // namespace lumora
