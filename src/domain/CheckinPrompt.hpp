#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <expected>
#include <optional>

namespace lumora {

// One question of a check-in section. Its text is also its identity.
struct CheckinPrompt {
    QString text;
    // Where the prompt came from, free text.
    std::optional<QString> source;

    const QString& id() const { return text; }

    bool operator==(const CheckinPrompt&) const = default;

    // "source" only when present.
    QJsonObject toJson() const;
    // "text" is required; a missing or null "source" reads as absent.
    [[nodiscard]] static std::expected<CheckinPrompt, JsonDecodeError> fromJson(const QJsonValue& value);
};

} // namespace lumora
