#pragma once

#include "domain/ConversationBackupDisplayState.hpp"
#include "domain/ConversationMode.hpp"
#include "domain/ConversationWorkspaceScope.hpp"
#include "domain/PendingConversationDeletion.hpp"

#include <QDateTime>
#include <QUuid>
#include <optional>

namespace lumora {

// One row of the history page, from a local review, an account row or both.
struct ConversationHistoryEntry {
    // The account's id of the conversation when known, else the local review's id.
    QUuid id;
    // Absent for rows known only from the account.
    std::optional<QUuid> localID;
    std::optional<QString> title;
    QDateTime completedAt;
    // Seconds.
    double duration = 0;
    ConversationMode mode = ConversationMode::conversation;
    // Speaker turns; absent for rows known only from the account.
    std::optional<qint64> turns;
    ConversationBackupDisplayState backup = ConversationBackupDisplayState::onlyOnThisMac;
    // Waiting because the account's storage is full.
    bool waitsForRoom = false;
    ConversationWorkspaceScope workspace = ConversationWorkspaceScope::current;
    std::optional<PendingConversationDeletion> pendingDeletion;
    // The user hid it from their own view.
    bool isHidden = false;

    bool operator==(const ConversationHistoryEntry&) const = default;

    bool isCheckin() const { return mode == ConversationMode::checkin; }
    bool isOnThisMac() const { return localID.has_value(); }
    bool isFromEarlierHistory() const { return workspace == ConversationWorkspaceScope::previous; }
    bool isOnTheAccount() const { return backup == ConversationBackupDisplayState::backedUp; }
};

} // namespace lumora
