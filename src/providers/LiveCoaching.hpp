#pragma once

#include "domain/ConversationMode.hpp"
#include "providers/AnalysisProvider.hpp"

namespace lumora {

// Chooses who analyses the live batches of a conversation.
struct LiveCoaching {
    // A conversation is analysed by the control-plane client itself; a check-in gets an
    // inert provider that refuses every request. The inert provider holds no state and
    // lives as long as the program; the client must outlive the returned reference.
    static const AnalysisProvider& analyzer(ConversationMode mode, const AnalysisProvider& client);
};

} // namespace lumora
