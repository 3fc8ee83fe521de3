#pragma once

#include "domain/ConversationWorkspaceScope.hpp"
#include "domain/JsonDecodeError.hpp"
#include "domain/PendingConversationDeletion.hpp"

#include <QDateTime>
#include <QJsonObject>
#include <QUuid>
#include <expected>
#include <optional>

namespace lumora {

// One row of the account's list of stored conversations, as the control plane describes it.
struct ConversationRecordSummary {
    QUuid id;
    // As the server stores it ("conversation" or "checkin"); not validated.
    QString mode;
    QString status;
    // Whole seconds since 1970.
    qint64 startedAt = 0;
    qint64 endedAt = 0;
    qint64 durationSeconds = 0;
    std::optional<QString> title;
    // When the account received it.
    qint64 createdAt = 0;
    ConversationWorkspaceScope workspace = ConversationWorkspaceScope::current;
    std::optional<PendingConversationDeletion> pendingDeletion;
    // Its turns as the application groups them; absent from a server that does not say.
    std::optional<qint64> turns;

    bool operator==(const ConversationRecordSummary&) const = default;

    // The moment `endedAt` seconds after 1970, in UTC.
    QDateTime completedAt() const;

    // "id" upper-case; "workspace" always written, "title", "pending_deletion" and "turns" only
    // when present.
    QJsonObject toJson() const;
    // A missing or null "workspace" reads as current; any text but the two scopes fails. A
    // title, the times, a duration and a count of turns read are brought within what this
    // application uploads (times within 1970...9999), however large the number; a fraction
    // still fails.
    [[nodiscard]] static std::expected<ConversationRecordSummary, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
