#pragma once

#include "security/SecureStoreError.hpp"

#include <QByteArray>
#include <QString>
#include <expected>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumora {

// A small store of secret bytes addressed by an account string. The system keychain answers
// asynchronously, so every operation is a coroutine: callers on the GUI thread await it and
// the window stays responsive. An account without an item is never an error.
class SecureKeyStore {
public:
    // What a read found; a struct because a coroutine cannot return an expected optional.
    struct Found {
        std::optional<QByteArray> bytes;
    };
    using ReadResult = std::expected<Found, SecureStoreError>;
    using WriteResult = std::expected<void, SecureStoreError>;

    virtual ~SecureKeyStore() = default;

    // The stored bytes, or nullopt when no item exists.
    [[nodiscard]] virtual QCoro::Task<ReadResult> data(QString account) = 0;
    // Stores the bytes, replacing any earlier value.
    [[nodiscard]] virtual QCoro::Task<WriteResult> set(QByteArray data, QString account) = 0;
    // Removes the item; a missing item is no error.
    [[nodiscard]] virtual QCoro::Task<WriteResult> remove(QString account) = 0;
};

} // namespace lumora
