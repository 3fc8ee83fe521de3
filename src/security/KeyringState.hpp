#pragma once

namespace lumora {

// The desktop keyring as a whole, as DesktopKeyring finds it.
enum class KeyringState {
    available, // the default collection exists and is unlocked
    locked, // it exists but is locked
    missing, // there is no default collection yet
    unreachable, // no Secret Service answers on the bus
};

} // namespace lumora
