#pragma once

#include <QString>
#include <QStringView>
#include <QUuid>
#include <optional>

namespace lumora {

// The signature of a device-recovery request, made before the device knows its device ID.
struct RecoveryRequestHeaders {
    qint64 timestamp = 0;
    QUuid nonce;
    QString signature;

    bool operator==(const RecoveryRequestHeaders&) const = default;

    // "Recover <timestamp>:<nonce>:<signature>", the nonce in lower case.
    [[nodiscard]] QString authorization() const;
    // Reads that value back, as a receiver does; anything not in exactly that form is nullopt.
    static std::optional<RecoveryRequestHeaders> fromAuthorization(QStringView value);
};

} // namespace lumora
