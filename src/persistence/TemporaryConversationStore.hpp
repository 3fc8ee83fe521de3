#pragma once

#include "persistence/TemporaryStoreError.hpp"

#include <QByteArrayView>
#include <QDateTime>
#include <QList>
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
// or let go through the store that made it, or until that process ends; the sweep never touches
// a locked folder, so a recording that runs for longer than a day, or in another instance,
// is never swept away. An unlocked one belongs to a conversation that ended without removing it
// (a crash, a kill): its recording goes whatever its age, and so does the folder, unless it holds
// the note of a reservation that may still be open, as earlier versions wrote into it (the marks
// of ConversationMarks, kept with the application's data, do that now). Such a folder stays with
// only its note, until whoever closes the reservation removes it or for a day at most (the control
// plane lets the reservation lapse long before). Copies of a store share its locks.
class TemporaryConversationStore {
public:
    // Entries at least this old (in seconds) are swept.
    static constexpr qint64 maximumRetention = 86400;
    // The note in a session folder naming the conversation's usage reservation (earlier versions).
    static constexpr auto reservationFileName = "reservation";

    // What a sweep removed.
    struct Swept {
        // Removed entries of the root, and the files removed from folders kept for their note.
        QStringList removed;
        // The sessions (named by their folders) whose recording went with the sweep.
        QList<QUuid> recordingsRemoved;
    };
    // The note of a folder that no conversation holds.
    struct LeftReservation {
        QString directory;
        QUuid reservationID;
        bool operator==(const LeftReservation&) const = default;
    };

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
    // The reservation notes of the session folders that no conversation holds; a note that
    // cannot be read is left to the sweep.
    [[nodiscard]] std::expected<QList<LeftReservation>, TemporaryStoreFailure> leftReservations() const;
    // Sweeps the root's visible entries. A folder that no conversation holds loses everything
    // but a reservation note written less than `maximumRetention` seconds before `now`, and goes
    // itself when no such note is left. Other entries go once last modified at least
    // `maximumRetention` seconds before `now`, or after `now` (a clock set back must not keep a
    // file forever).
    [[nodiscard]] std::expected<Swept, TemporaryStoreFailure> sweepExpired(const QDateTime& now) const;

private:
    class SessionLocks;

    explicit TemporaryConversationStore(QString root);

    [[nodiscard]] bool isSessionDirectory(const QString& directory) const;
    // Whether the entry was modified at least `maximumRetention` seconds before `now`, or after it.
    [[nodiscard]] static std::expected<bool, TemporaryStoreFailure> expired(
        const QString& entry, const QDateTime& now);
    // Sweeps one unlocked folder (held locked meanwhile); whether its recording went.
    [[nodiscard]] std::expected<bool, TemporaryStoreFailure> sweepFolder(
        const QString& folder, const QDateTime& now, QStringList& removed) const;

    QString m_root;
    std::shared_ptr<SessionLocks> m_locks;
};

} // namespace lumora
