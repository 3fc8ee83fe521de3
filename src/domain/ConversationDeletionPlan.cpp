#include "domain/ConversationDeletionPlan.hpp"

namespace lumora {

ConversationDeletionKind ConversationDeletionPlan::kind(ConversationWorkspaceScope workspace, bool paired,
    const QList<PairingPreviousWorkspace>& previousWorkspaces)
{
    if (workspace == ConversationWorkspaceScope::current)
        return paired ? ConversationDeletionKind::sharedWithPartner : ConversationDeletionKind::immediate;
    bool anyShared = false;
    bool anyUnshared = false;
    for (const PairingPreviousWorkspace& earlier : previousWorkspaces) {
        if (earlier.conversationCount < 1)
            continue;
        (earlier.memberCount >= 2 ? anyShared : anyUnshared) = true;
    }
    if (anyShared == anyUnshared)
        return ConversationDeletionKind::undetermined;
    return anyShared ? ConversationDeletionKind::sharedWithPartner : ConversationDeletionKind::immediate;
}

} // namespace lumora
