#pragma once

namespace lumora {

// Whether a conversation or check-in may start now, or what is missing.
enum class ConversationStartReadiness {
    ready,
    needsRecordingAgreement,
    needsSignIn,
    temporarilyUnavailable,
};

} // namespace lumora
