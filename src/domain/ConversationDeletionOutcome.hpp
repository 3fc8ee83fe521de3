#pragma once

#include "domain/PendingConversationDeletion.hpp"

#include <optional>

namespace lumora {

// The answer to a deletion request: gone at once, or waiting for the partner. Gone may mean
// that the account no longer held it, deleted or hidden from elsewhere before the request came.
class ConversationDeletionOutcome {
public:
    static ConversationDeletionOutcome deleted() { return ConversationDeletionOutcome(std::nullopt); }
    static ConversationDeletionOutcome alreadyGone()
    {
        ConversationDeletionOutcome outcome(std::nullopt);
        outcome.m_alreadyGone = true;
        return outcome;
    }
    static ConversationDeletionOutcome awaitingPartner(PendingConversationDeletion pending)
    {
        return ConversationDeletionOutcome(pending);
    }

    [[nodiscard]] bool isDeleted() const { return !m_pending.has_value(); }
    [[nodiscard]] bool wasAlreadyGone() const { return m_alreadyGone; }
    // The waiting deletion; absent when the conversation is gone.
    [[nodiscard]] const std::optional<PendingConversationDeletion>& pendingDeletion() const
    {
        return m_pending;
    }

    bool operator==(const ConversationDeletionOutcome&) const = default;

private:
    explicit ConversationDeletionOutcome(std::optional<PendingConversationDeletion> pending)
        : m_pending(pending)
    {
    }

    std::optional<PendingConversationDeletion> m_pending;
    bool m_alreadyGone = false;
};

} // namespace lumora
