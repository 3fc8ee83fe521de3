#pragma once

#include "common/HttpMessage.hpp"
#include "controlplane/ControlPlaneStore.hpp"

#include <QString>
#include <expected>
#include <functional>

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

// Checks the "Authorization" header of a request against the canonical text rebuilt from
// the request itself (method, path without query, timestamp, nonce, body digest).
class RequestAuthenticator {
public:
    // Requests signed more than this many seconds before or after the server clock are stale.
    static constexpr qint64 allowedClockSkew = 300;

    RequestAuthenticator(ControlPlaneStore& store, std::function<qint64()> clock);

    // "Device ID:TIMESTAMP:NONCE:SIGNATURE" by a known, unrevoked device, signed with its key.
    std::expected<DeviceRecord, AuthenticationFailure> authenticateDevice(const HttpRequest& request);
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
