#pragma once

#include "domain/BehaviorAnnotation.hpp"
#include "domain/ConversationMode.hpp"
#include "domain/JsonDecodeError.hpp"
#include "domain/ProcessFoulAnnotation.hpp"
#include "domain/SpeakerStats.hpp"
#include "domain/SpeakerTurn.hpp"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QUuid>
#include <expected>
#include <optional>

namespace lumora {

// The review of one finished conversation or check-in: what the history shows, what is
// sealed on disk and what becomes the account upload body.
struct DerivedSessionResult {
    QUuid id;
    std::optional<QString> title;
    QDateTime completedAt;
    double duration = 0;
    ConversationMode mode = ConversationMode::conversation;
    QList<SpeakerStats> stats;
    QList<BehaviorAnnotation> annotations;
    std::optional<QList<ProcessFoulAnnotation>> fouls;
    std::optional<bool> harshStartupDetected;
    QString summary;
    std::optional<QList<SpeakerTurn>> transcript;
    // Made from the turns heard live rather than a transcript of the whole recording: the review
    // sealed at the press of Finish, and the one that stands when the final transcript or
    // analysis could not be had.
    bool fromLiveTranscript = false;
    // The account it was recorded under; absent when that is not known: in what builds before
    // accounts were told apart stored (a nil id reads as absent), and in a review rebuilt from the
    // account's copy.
    std::optional<QUuid> accountID = std::nullopt;

    bool operator==(const DerivedSessionResult&) const = default;

    // Absent optionals are left out, and "fromLiveTranscript" unless it is true; dates are
    // ISO-8601 text, the ids upper-case.
    QJsonObject toJson() const;
    // Lenient about what older results may lack: "mode" defaults to a conversation, and
    // "title", "fouls", "harshStartupDetected", "transcript", "fromLiveTranscript" and
    // "accountID" may be missing or null.
    [[nodiscard]] static std::expected<DerivedSessionResult, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
