#pragma once

#include "domain/ConversationDeletionKind.hpp"
#include "domain/ConversationWorkspaceScope.hpp"
#include "domain/PairingPreviousWorkspace.hpp"

#include <QList>

namespace lumora {

struct ConversationDeletionPlan {
    // `workspace` is the row's, `paired` whether the user is linked with a partner now and
    // `previousWorkspaces` the earlier partner workspaces of the pairing state. A row of an
    // earlier workspace is judged by the earlier workspaces that hold conversations: all
    // unshared, all shared, or a mix (or none) that cannot be told apart.
    static ConversationDeletionKind kind(ConversationWorkspaceScope workspace, bool paired,
        const QList<PairingPreviousWorkspace>& previousWorkspaces);
};

} // namespace lumora
