#pragma once

#include "domain/ConversationBackupState.hpp"
#include "domain/JsonDecodeError.hpp"

#include <QDateTime>
#include <QJsonObject>
#include <QUuid>
#include <expected>
#include <optional>

namespace lumora {

// The bookkeeping of one local review's copy in the account history.
struct ConversationBackupRecord {
    // The local review's id and the record's identity; never changes.
    QUuid localID;
    // The id under which the account holds (or will hold) it; replaced after an id conflict.
    QUuid conversationID;
    ConversationBackupState state = ConversationBackupState::pending;
    // Failed attempts since the last success.
    qint64 attempts = 0;
    std::optional<QDateTime> lastAttemptAt;
    // Short code of the last failed attempt; absent after a success.
    std::optional<QString> lastFailureCode;
    // The user deleted the conversation and the account's answer has not been taken in yet:
    // written before the deletion is sent, so that one cut short (a kill, a lost reply) is
    // sent again.
    bool deletionRequested = false;
    // The account whose review it is; absent when that is not known, as in records that builds
    // before accounts were told apart wrote (a nil id reads as absent).
    std::optional<QUuid> accountID = std::nullopt;

    bool operator==(const ConversationBackupRecord&) const = default;

    // Ids upper-case, the date as ISO-8601 text in whole seconds; absent optionals, and the
    // deletion mark unless set, left out.
    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<ConversationBackupRecord, JsonDecodeError> fromJson(
        const QJsonValue& value);
};

} // namespace lumora
