#pragma once

#include "viewmodel/InfoResource.hpp"

#include <QStringList>

namespace lumora {

class SessionViewModel;
struct SessionEnvironment;

// What a development build adds for the local servers (scripts/run, and the tests that run the
// real program against theirs). Compiled into each program with or without
// LUMORA_DEVELOPMENT_BUILD; without it, every function leaves things as they are.
struct DevelopmentBuild {
    // Trusts the development CA named by LUMORA_DEVELOPMENT_CA, and takes the local servers'
    // addresses from LUMORA_CONTROL_PLANE_URL and LUMORA_SPEECH_SERVICE_URL over the compiled-in
    // ones (the sign-in page is then on the control plane's host).
    static InfoResource prepare(InfoResource compiled);
    // With "--start-conversation", starts a conversation as soon as one may start, and finishes it
    // on SIGUSR1 as the Finish button does: the tests that quit or end the program during a
    // conversation need one running, and a press they can time to the millisecond.
    static void startConversationWhenReady(SessionViewModel& viewModel, const QStringList& arguments);
    // With "--hold-after-account-deletion", an account's deletion waits for ten minutes once the
    // account has answered, before this computer's part, and says so in the log; with
    // "--delete-account", the account is deleted as soon as one is signed in, as the Account
    // page's confirmed button does. For the tests that end the program between the two.
    static void addAccountDeletionHooks(SessionEnvironment& environment, const QStringList& arguments);
    static void deleteAccountWhenReady(SessionViewModel& viewModel, const QStringList& arguments);
};

} // namespace lumora
