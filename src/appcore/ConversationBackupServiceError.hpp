#pragma once

namespace lumora {

// Why a history operation of the backup service did not go through. Carries nothing of the
// underlying server or store failure.
enum class ConversationBackupServiceError {
    // The review is neither on this computer nor fetchable from the account.
    conversationUnavailable,
    // The account gave the review, but not as this application can read it.
    conversationUnreadable,
    // A deletion, or the answer to the partner's deletion request, did not go through.
    deleteFailed,
    // Hiding or showing again did not go through, or the conversation is not on the account.
    hideFailed,
    // The account's list could not be read: the history shows what was read before.
    refreshFailed,
};

} // namespace lumora
