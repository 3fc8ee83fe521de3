#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/ControlPlaneStore.hpp"

#include <QString>
#include <expected>
#include <functional>
#include <optional>

namespace lumora {

// Why a signed request was refused; each answers 401 with its code.
enum class AuthenticationFailure {
    invalidSignature,
    staleTimestamp,
    replayedNonce,
    unknownDevice,
    deviceRevoked
};

QString toString(AuthenticationFailure failure);

// A device-signed request whose signature holds, before its nonce is recorded.
struct SignedCall {
    DeviceRecord device;
    QString signer;
    QUuid nonce;
    qint64 timestamp = 0;
};

// Checks the "Authorization" header of a request against the canonical text rebuilt from
// the request itself (method, path without query, timestamp, nonce, body digest).
class RequestAuthenticator {
public:
    // Requests signed more than this many seconds before or after the server clock are stale.
    static constexpr qint64 allowedClockSkew = 300;
    // Nonces are kept this long after their request time by the database's clock: the window
    // above and as much again, so that an instance whose clock differs from the database's
    // (by less than that) still finds every nonce it would accept.
    static constexpr qint64 nonceLifetime = 2 * allowedClockSkew;

    RequestAuthenticator(ControlPlaneStore& store, std::function<qint64()> clock);

    // "Device ID:TIMESTAMP:NONCE:SIGNATURE" by a known, unrevoked device, signed with its key.
    std::expected<DeviceRecord, AuthenticationFailure> authenticateDevice(const HttpRequest& request);
    // The same in two parts, for a caller that records the nonce itself: everything but the
    // nonce and the revocation...
    std::expected<SignedCall, AuthenticationFailure> checkDeviceSignature(const HttpRequest& request);
    // ...and, when the nonce was not recorded, why, as the database says now.
    AuthenticationFailure refusalOf(const SignedCall& call) const;
    // What can be checked before the body is read: the header's form, the clock window and
    // that the device is known and not revoked; the device when all holds.
    std::expected<DeviceRecord, AuthenticationFailure> checkHead(const HttpRequest& head);
    // "Recover TIMESTAMP:NONCE:SIGNATURE", signed with the key the body names.
    std::expected<void, AuthenticationFailure> authenticateRecovery(
        const HttpRequest& request, const QString& publicKey);

private:
    std::expected<void, AuthenticationFailure> checkFreshness(qint64 timestamp) const;
    std::expected<void, AuthenticationFailure> checkSignature(const HttpRequest& request,
        const QString& publicKey, qint64 timestamp, const QUuid& nonce, const QString& signature) const;
    std::expected<void, AuthenticationFailure> checkNonce(
        const QString& signer, const QUuid& nonce, qint64 timestamp);

    ControlPlaneStore& m_store;
    std::function<qint64()> m_clock;
};

} // namespace lumora
