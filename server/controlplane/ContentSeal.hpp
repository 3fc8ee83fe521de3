#pragma once

#include "security/SymmetricKey.hpp"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>
#include <expected>
#include <optional>
#include <string>
#include <vector>

namespace lumora {

// Seals what the account history stores of a conversation (its document and its title) with
// AES-256-GCM under the server's content key, which lives in a file of its own, never in the
// database. The conversation's id, its account and which of the two it is are bound as
// associated data: a sealed value moved to another row, account or column does not open.
// Keys are named by an id derived from them, kept beside each sealed row, so that rows sealed
// under a previous key still open while they are sealed again under the current one.
class ContentSeal {
public:
    enum class Field { body, title };

    struct Key {
        QString id;
        SymmetricKey key;
    };

    // The current key (the one new rows are sealed under) and any previous ones.
    ContentSeal(SymmetricKey current, const QList<SymmetricKey>& previous = {});
    // Key files hold the base64 of 32 random bytes ("openssl rand -base64 32") and must be the
    // server user's alone, like its other secrets. An error names the file, never the key.
    static std::expected<ContentSeal, std::string> fromKeyFiles(
        const std::string& current, const std::vector<std::string>& previous);

    [[nodiscard]] const QString& currentKeyID() const { return m_keys.front().id; }
    [[nodiscard]] bool knows(const QString& keyID) const;

    // Under the current key; throws StoreFailure if the cipher fails.
    [[nodiscard]] QByteArray seal(
        Field field, const QUuid& conversation, const QUuid& account, QByteArrayView plaintext) const;
    // nullopt when the key is unknown or the value does not open as this row's field.
    [[nodiscard]] std::optional<QByteArray> open(Field field, const QUuid& conversation, const QUuid& account,
        const QString& keyID, QByteArrayView sealed) const;

private:
    QList<Key> m_keys;
};

} // namespace lumora
