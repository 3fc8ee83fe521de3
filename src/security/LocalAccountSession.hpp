#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <QUuid>
#include <expected>

namespace lumora {

// The signed-in account and the device ID under which the control plane registered this
// computer.
struct LocalAccountSession {
    QUuid accountID;
    QUuid deviceID;

    bool operator==(const LocalAccountSession&) const = default;

    // {"accountID": ..., "deviceID": ...}, identifiers in upper case.
    QJsonObject toJson() const;
    // Both members are required, in either case; other members are ignored.
    [[nodiscard]] static std::expected<LocalAccountSession, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
