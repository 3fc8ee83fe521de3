#pragma once

#include "persistence/DataFolderLock.hpp"
#include "persistence/FileSystemError.hpp"

#include <QList>
#include <QString>
#include <QUuid>
#include <expected>
#include <memory>

namespace lumora {

// What this computer must still settle of a conversation whose end a run may not see: kept with
// the application's data, so that a kill, a power cut or a restart of the computer (which
// empties the runtime folder with the recording) leaves it for the next launch. One file per
// conversation, "<id>.mark" (JSON), replaced atomically and flushed to disk before a write
// returns. Copies share the lock on the folder (DataFolderLock), taken for their life. A mark
// names the account the conversation was recorded under, whose reservation it holds.
class ConversationMarks {
public:
    enum class State {
        // Under way, from its reservation to its end: found at a launch, the run ended during it.
        recording,
        // Over, but its reservation could be neither finalized nor cancelled yet.
        reservationOpen,
        // The user discarded it: its review, its backup record and its reservation go.
        discarded,
    };
    struct Mark {
        QUuid conversationID;
        // Null when no reservation is left to close.
        QUuid reservationID;
        State state = State::recording;
        // The account it was recorded under; absent in marks that builds before accounts were
        // told apart wrote.
        std::optional<QUuid> accountID = std::nullopt;

        bool operator==(const Mark&) const = default;
    };

    // "Lumora/Marks" in the user's application data folder.
    static QString standardDirectory();

    // Creates the folder (mode 0700) when it is missing and takes the lock on it.
    [[nodiscard]] static std::expected<ConversationMarks, FileSystemError> create(const QString& directory);

    [[nodiscard]] const QString& directory() const { return m_directory; }
    // A copy that writes each mark without an account as one of `accountID`.
    [[nodiscard]] ConversationMarks forAccount(const QUuid& accountID) const;

    // Puts the mark in place of any earlier one of the conversation.
    [[nodiscard]] std::expected<void, FileSystemError> write(const Mark& mark) const;
    // Nothing to do when the conversation has no mark.
    [[nodiscard]] std::expected<void, FileSystemError> remove(const QUuid& conversationID) const;
    // Every mark, in the order of the conversations' ids; a file that cannot be read or is not a
    // mark is left alone and skipped.
    [[nodiscard]] std::expected<QList<Mark>, FileSystemError> list() const;
    // The conversation's mark; none when it has none or it cannot be read.
    [[nodiscard]] std::optional<Mark> find(const QUuid& conversationID) const;
    // Every mark file.
    [[nodiscard]] std::expected<void, FileSystemError> removeAll() const;

private:
    ConversationMarks(QString directory, std::shared_ptr<DataFolderLock> lock)
        : m_directory(std::move(directory))
        , m_lock(std::move(lock))
    {
    }

    [[nodiscard]] QString path(const QUuid& conversationID) const;

    QString m_directory;
    std::shared_ptr<DataFolderLock> m_lock;
    std::optional<QUuid> m_account;
};

} // namespace lumora
