#include "domain/ConversationStartPolicy.hpp"

namespace lumora {

ConversationStartReadiness ConversationStartPolicy::readiness(
    bool recordingAgreementAccepted, bool signedIn, bool busy, bool processing, bool starting)
{
    if (!recordingAgreementAccepted)
        return ConversationStartReadiness::needsRecordingAgreement;
    if (!signedIn)
        return ConversationStartReadiness::needsSignIn;
    if (busy || processing || starting)
        return ConversationStartReadiness::temporarilyUnavailable;
    return ConversationStartReadiness::ready;
}

} // namespace lumora
