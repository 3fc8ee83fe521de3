#pragma once

#include "security/SecureStoreError.hpp"

#include <QByteArray>
#include <QString>
#include <expected>
#include <memory>
#include <qcoro/qcorotask.h>

namespace lumora {

class SecureKeyStore;

// The rules every owner of a key follows before it makes a new one.
//
// A keychain that went unanswered once may answer a later read with "not found" although it
// holds the key, so after a timeout no key is created for the rest of the run. A key that was
// just stored is read back and the bytes read are the ones used: another store or process that
// raced to create the same key may have written its own in between.
class KeyCreation {
public:
    // Called with every error a key store returns; remembers a timeout for the rest of the run.
    static void note(const SecureStoreError& error);
    [[nodiscard]] static bool timedOutThisRun();
    // Tests that simulate a timeout start the next case afresh.
    static void forgetTimeoutsForTesting();

    // Stores `bytes` under the account, unless a timeout was seen in this run, and returns what
    // the store holds afterwards. An item that is not there right after being stored is
    // `keyUnavailable`.
    // The bytes in a struct: a coroutine cannot return an expected of a type built from anything.
    struct Stored {
        QByteArray bytes;
    };
    [[nodiscard]] static QCoro::Task<std::expected<Stored, SecureStoreError>> store(
        std::shared_ptr<SecureKeyStore> keyStore, QString account, QByteArray bytes);
};

} // namespace lumora
