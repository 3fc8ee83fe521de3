#pragma once

#include "domain/CheckinPrompt.hpp"

#include <QList>

namespace lumora {

// One step of a weekly check-in: a heading, a suggested time and its prompts in display order.
struct CheckinSection {
    QString id;
    QString title;
    qint64 suggestedMinutes = 0;
    QList<CheckinPrompt> prompts;

    double suggestedSeconds() const { return static_cast<double>(suggestedMinutes) * 60.0; }

    bool operator==(const CheckinSection&) const = default;

    QJsonObject toJson() const;
    // Every key is required.
    [[nodiscard]] static std::expected<CheckinSection, JsonDecodeError> fromJson(const QJsonValue& value);
};

} // namespace lumora
