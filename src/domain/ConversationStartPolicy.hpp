#pragma once

#include "domain/ConversationStartReadiness.hpp"

namespace lumora {

// Decides from the view model's own flags whether a session may start. The recording
// agreement comes first: without it nothing else matters.
struct ConversationStartPolicy {
    static ConversationStartReadiness readiness(
        bool recordingAgreementAccepted, bool signedIn, bool busy, bool processing, bool starting);
};

} // namespace lumora
