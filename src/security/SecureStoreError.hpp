#pragma once

#include <QtGlobal>

namespace lumora {

// Why a secret could not be read, written or used.
struct SecureStoreError {
    enum class Case {
        keychain, // the keychain call failed; `status` says how
        invalidKey, // the stored bytes are not what was expected
        // Data made with a key exists (sealed files, a saved account session) but the key store
        // holds no such key, or another one. Nothing is created or written in its place, since the
        // key may come back (a locked keyring, another desktop's keychain) and open everything.
        keyUnavailable,
    };

    // A keychain status for a call that got no answer in time.
    static constexpr qint32 timedOutStatus = -1;
    // A keychain status for a read that the keyring answered "not found" while it was locked or
    // not made yet: the item may well be there.
    static constexpr qint32 keyringClosedStatus = -2;

    Case kind = Case::keychain;
    qint32 status = 0;

    static SecureStoreError keychain(qint32 status) { return { Case::keychain, status }; }
    static SecureStoreError invalidKey() { return { Case::invalidKey, 0 }; }
    static SecureStoreError keyUnavailable() { return { Case::keyUnavailable, 0 }; }

    bool operator==(const SecureStoreError&) const = default;
};

} // namespace lumora
