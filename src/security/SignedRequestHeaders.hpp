#pragma once

#include <QString>
#include <QStringView>
#include <QUuid>
#include <optional>

namespace lumora {

// The signature of one request of a registered device.
struct SignedRequestHeaders {
    QUuid deviceID;
    qint64 timestamp = 0;
    QUuid nonce;
    QString signature;

    bool operator==(const SignedRequestHeaders&) const = default;

    // "Device <device id>:<timestamp>:<nonce>:<signature>", identifiers in lower case.
    [[nodiscard]] QString authorization() const;
    // Reads that value back, as a receiver does; anything not in exactly that form is nullopt.
    static std::optional<SignedRequestHeaders> fromAuthorization(QStringView value);
};

} // namespace lumora
