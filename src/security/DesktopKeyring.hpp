#pragma once

#include "security/KeyringState.hpp"

#include <QDBusConnection>
#include <chrono>
#include <functional>
#include <qcoro/qcorotask.h>

namespace lumora {

// The desktop's keyring as a whole (the Secret Service on the session bus), where the key stores
// keep their items: whether it answers, and whether its default collection exists and is
// unlocked. A locked keyring answers reads of its items with "not found", and one that does not
// exist yet answers everything so; neither may be taken for a keychain without keys.
//
// `prepare` opens the keyring the way the desktop means it to be opened: it asks the Secret
// Service to create the default collection or to unlock it, and the service shows its own
// prompt (a new password, or the password of the keyring). That prompt waits for the person, so
// it is waited for without a time limit; only the service leaving the bus ends the wait early.
struct DesktopKeyring {
    using State = KeyringState;

    // A call that gets no answer in this time counts as unreachable (a prompt is not a call).
    static constexpr std::chrono::milliseconds callTimeout { 5000 };

    [[nodiscard]] static QCoro::Task<State> state(QDBusConnection bus);
    // Creates or unlocks the default collection, through the service's prompt when it shows
    // one; `prompting` is called as the prompt opens. The state afterwards: `available`, or the
    // state the person left it in (a dismissed prompt changes nothing).
    [[nodiscard]] static QCoro::Task<State> prepare(QDBusConnection bus, std::function<void()> prompting);
};

} // namespace lumora
