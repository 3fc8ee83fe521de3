#pragma once

#include "providers/AccountRecords.hpp"
#include "providers/ControlPlaneFailure.hpp"

#include <QString>
#include <QUrl>
#include <expected>
#include <optional>
#include <qcoro/qcorotask.h>

class QNetworkAccessManager;

namespace lumora {

class DeviceIdentity;

// The start reply of the web sign-in, read with its own snake-case key.
struct AppleWebAuthorizationResponse {
    QUrl authorizationURL;
    [[nodiscard]] static std::expected<AppleWebAuthorizationResponse, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

// The four calls a device makes before it has a registration, and so before a signed
// client exists. Recovery and the ticket's redemption are signed in the recovery form; none
// decodes an error body: any refusal is `rejected(status)`, and nothing is logged or retried.
struct ControlPlaneBootstrap {
    // nullopt when the control plane answers 401: this device key has no registration.
    [[nodiscard]] static QCoro::Task<std::expected<std::optional<DeviceRegistration>, ControlPlaneFailure>>
    recoverRegisteredDevice(
        QUrl baseURL, const DeviceIdentity& deviceIdentity, QNetworkAccessManager& session);
    // The page to open in the browser, as the control plane gave it. `state` is this attempt's
    // own value (see newState): the callback brings it back, and the ticket is bound to it.
    [[nodiscard]] static QCoro::Task<std::expected<QUrl, ControlPlaneFailure>> beginWebAppleAuthorization(
        QUrl baseURL, const DeviceIdentity& deviceIdentity, QString state, QNetworkAccessManager& session);
    // Redeems the ticket that the sign-in callback URL carried, with the state of the attempt
    // it returned to, signed with the device's key: the ticket binds that key only for its
    // holder, and only for the attempt that holder started.
    [[nodiscard]] static QCoro::Task<std::expected<DeviceRegistration, ControlPlaneFailure>>
    completeWebAppleAuthorization(QUrl baseURL, QString ticket, QString state,
        const DeviceIdentity& deviceIdentity, QNetworkAccessManager& session);
    // A fresh state value: 32 random bytes as base64url text; empty when no randomness is to be had.
    [[nodiscard]] static QString newState();
    // Registers with a native identity token ("register" is a keyword here).
    [[nodiscard]] static QCoro::Task<std::expected<DeviceRegistration, ControlPlaneFailure>> registerDevice(
        QUrl baseURL, QString appleIdentityToken, const DeviceIdentity& deviceIdentity, QString platform,
        QNetworkAccessManager& session);
};

} // namespace lumora
