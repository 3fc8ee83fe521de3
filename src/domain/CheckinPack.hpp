#pragma once

#include "domain/CheckinPackSource.hpp"
#include "domain/CheckinSection.hpp"

namespace lumora {

// The content of one week's check-in, from the control plane or the built-in pack.
// Its JSON keys are snake case as they stand on the wire.
struct CheckinPack {
    static constexpr qint64 expectedSectionCount = 5;

    // ISO-8601 week key such as "2026-W07".
    QString week;
    CheckinPackSource source = CheckinPackSource::fallback;
    // Whole seconds since 1970.
    qint64 generatedAt = 0;
    std::optional<QString> note;
    QString questionID;
    QList<CheckinSection> sections;

    // Exactly five sections, each with at least one prompt, and no prompt with an empty text.
    // Titles, identifiers, minutes, the week and the source are not examined.
    bool isUsable() const;
    // The sections' suggested minutes added up (saturating, so a hostile pack cannot overflow).
    qint64 suggestedMinutes() const;

    bool operator==(const CheckinPack&) const = default;

    // "note" only when present.
    QJsonObject toJson() const;
    // Lenient where servers differ: any "source" other than "model" reads as `fallback`, and a
    // missing "generated_at", "note" or "question_id" reads as 0, absent and "". Everything
    // else is required, and a present key of the wrong type fails the whole pack.
    [[nodiscard]] static std::expected<CheckinPack, JsonDecodeError> fromJson(const QJsonValue& value);
};

} // namespace lumora
