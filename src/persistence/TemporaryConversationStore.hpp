#pragma once

#include "persistence/TemporaryStoreError.hpp"

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <expected>
#include <memory>

namespace lumora {

// Owns one root folder with a private folder per recorded conversation, and sweeps away what
// a crash left behind. The root is used only when it is a real folder of the current user
// (never a symbolic link); it is kept at mode 0700, and nothing here follows a symbolic link
// when removing.
//
// Each session folder is locked (`flock` on the folder) from its creation until it is removed
// through the store that made it, or until that process ends; the sweep never removes a
// locked folder, so a recording that runs for longer than a day, or in another instance,
// is never swept away, and removes every unlocked one, whatever its age, as a conversation that
// has ended without removing it (a crash, a forced quit) left it. Copies of a store share its
// locks.
class TemporaryConversationStore {
public:
    // Entries at least this old (in seconds) are swept.
    static constexpr qint64 maximumRetention = 86400;

    // "Lumora-Conversation" in the user's own runtime folder (privatefiles::runtimeFolder).
    static QString standardRoot();

    [[nodiscard]] static std::expected<TemporaryConversationStore, TemporaryStoreFailure> create(
        QString root);

    [[nodiscard]] const QString& root() const { return m_root; }

    // An empty folder for the session (emptied if it existed), mode 0700.
    [[nodiscard]] std::expected<QString, TemporaryStoreFailure> createSessionDirectory(const QUuid& id) const;
    // Writes a file (mode 0600) into a session folder and returns its path.
    [[nodiscard]] std::expected<QString, TemporaryStoreFailure> write(
        QByteArrayView data, const QString& name, const QString& directory) const;
    // Removes a session folder; anything that is not one is left alone without error.
    [[nodiscard]] std::expected<void, TemporaryStoreFailure> removeSessionDirectory(
        const QString& directory) const;
    // Removes the root's visible folders that no conversation holds locked, whatever their age,
    // and its other visible entries last modified at least `maximumRetention` seconds before
    // `now`, or after `now` (a clock set back must not keep a file forever); returns their paths.
    [[nodiscard]] std::expected<QStringList, TemporaryStoreFailure> sweepExpired(const QDateTime& now) const;

private:
    class SessionLocks;

    explicit TemporaryConversationStore(QString root);

    [[nodiscard]] bool isSessionDirectory(const QString& directory) const;

    QString m_root;
    std::shared_ptr<SessionLocks> m_locks;
};

} // namespace lumora
