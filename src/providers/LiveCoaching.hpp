#pragma once

#include "domain/ConversationMode.hpp"
#include "providers/AnalysisProvider.hpp"

#include <memory>

namespace lumora {

// Chooses who analyses the live batches of a conversation.
struct LiveCoaching {
    // A conversation is analysed by the control-plane client itself; a check-in gets an
    // inert provider that refuses every request.
    static std::shared_ptr<const AnalysisProvider> analyzer(
        ConversationMode mode, std::shared_ptr<const AnalysisProvider> client);
};

} // namespace lumora
