#pragma once

#include "domain/ConversationHistoryEntry.hpp"

#include <QAbstractListModel>
#include <QList>
#include <QtQml/qqmlregistration.h>
#include <optional>

namespace lumora {

// The history rows in display order, keyed by the entry's id. A republished history changes
// the rows in place: rows whose entry went away are removed, new ones inserted, moved ones
// moved and changed ones reported changed, so views keep their delegates and scroll position.
class HistoryEntryList : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The history model holds the rows.")

public:
    // What a row gives its delegate.
    enum Role {
        // QString: the entry's id, the row's key.
        EntryIDRole = Qt::UserRole + 1,
        // QString: the title, empty without one; bool hasTitle: whether there is one (an empty
        // title counts).
        TitleRole,
        HasTitleRole,
        // QDateTime.
        CompletedAtRole,
        // double: seconds.
        DurationRole,
        // bool.
        IsCheckinRole,
        // int: speaker turns, -1 when unknown (rows known only from the account).
        TurnsRole,
        // Backup.
        BackupRole,
        // bool: the review is stored on this computer.
        IsOnThisComputerRole,
        // bool: it belongs to a partner workspace the user has left.
        IsFromEarlierHistoryRole,
        // bool: a deletion waits for the partner; bool: this user asked for it.
        HasPendingDeletionRole,
        DeletionRequestedByMeRole,
        // bool: hidden from this user's view.
        IsHiddenRole,
    };
    Q_ENUM(Role)
    // Where the conversation is kept.
    enum Backup { BackedUp, Waiting, OnlyOnThisComputer };
    Q_ENUM(Backup)

    using QAbstractListModel::QAbstractListModel;

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    [[nodiscard]] const QList<ConversationHistoryEntry>& entries() const { return m_entries; }
    // The entry with that id (as QML and the rows spell it), if there is one.
    [[nodiscard]] std::optional<ConversationHistoryEntry> entry(const QString& entryID) const;
    // Takes the newly published history, changing only the rows that differ.
    void replace(const QList<ConversationHistoryEntry>& entries);

private:
    QList<ConversationHistoryEntry> m_entries;
};

} // namespace lumora
