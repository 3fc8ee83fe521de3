#pragma once

#include "domain/JsonDecodeError.hpp"
#include "security/LocalAccountSession.hpp"
#include "security/SecureStoreError.hpp"

#include <expected>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <variant>

namespace lumora {

class SecureKeyStore;

// Remembers the signed-in account across restarts, as JSON in the secure key store, and
// moves the item an older build wrote under its former account name.
class AccountSessionStore {
public:
    // The key store's error, or the stored JSON that could not be read.
    using Error = std::variant<SecureStoreError, JsonDecodeError>;
    // What `load` found; a struct because a coroutine cannot return an expected optional.
    struct Loaded {
        std::optional<LocalAccountSession> session;
    };

    static QString currentAccount();
    static QString formerAccount();

    explicit AccountSessionStore(std::shared_ptr<SecureKeyStore> store);

    [[nodiscard]] QCoro::Task<std::expected<Loaded, Error>> load();
    [[nodiscard]] QCoro::Task<std::expected<void, Error>> save(LocalAccountSession session);
    // Removes "account-session-v1" and then "account-session-v2"; a failure stops at once, so
    // no older session is left to return without the current one.
    [[nodiscard]] QCoro::Task<std::expected<void, Error>> clear();

private:
    std::shared_ptr<SecureKeyStore> m_store;
};

} // namespace lumora
