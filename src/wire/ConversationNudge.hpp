#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <QString>
#include <expected>

namespace lumora {

// One coaching nudge for one partner.
struct ConversationNudge {
    QString title;
    QString guidance;
    QString suggestedWords;

    bool operator==(const ConversationNudge&) const = default;

    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<ConversationNudge, JsonDecodeError> fromJson(const QJsonValue& value);
};

} // namespace lumora
