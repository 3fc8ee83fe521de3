#pragma once

namespace lumora {

// What deleting a history row will do.
enum class ConversationDeletionKind {
    // The row goes at once.
    immediate,
    // The partner has to agree first.
    sharedWithPartner,
    // The application cannot tell which.
    undetermined,
};

} // namespace lumora
