#pragma once

#include "domain/JsonDecodeError.hpp"
#include "domain/SpeakerTurn.hpp"

#include <QJsonObject>
#include <QList>
#include <expected>

namespace lumora {

// The body of a nudge request: only the recent stretch of the conversation is sent.
struct NudgeProviderPayload {
    static constexpr double recentWindowSeconds = 150.0;
    static constexpr qsizetype maximumRetainedTurns = 40;
    static constexpr qsizetype maximumRetainedCharacters = 120000;
    // The rubric version that coaching requests are made under.
    static constexpr const char* coachingRubricVersion = "context-coach-2026-07-23";

    QString rubricVersion;
    QList<SpeakerTurn> turns;
    qint64 currentStep = 0;
    qint64 targetSpeaker = 0;

    NudgeProviderPayload() = default;
    // Keeps the latest turns that ended within the window and fit the character budget
    // (the last turn always), limits the step to 0...5 and maps the target to its seat.
    NudgeProviderPayload(
        QString rubricVersion, const QList<SpeakerTurn>& turns, qint64 currentStep, qint64 targetSpeaker);

    bool operator==(const NudgeProviderPayload&) const = default;

    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<NudgeProviderPayload, JsonDecodeError> fromJson(
        const QJsonValue& value);

    // User-perceived characters (extended grapheme clusters), not UTF-16 units.
    static qsizetype characterCount(const QString& text);
};

} // namespace lumora
