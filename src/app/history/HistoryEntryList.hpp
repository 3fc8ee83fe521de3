#pragma once

#include "ReviewRows.hpp"
#include "display/DateTexts.hpp"
#include "domain/ConversationHistoryEntry.hpp"
#include "domain/DerivedSessionResult.hpp"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QtQml/qqmlregistration.h>
#include <optional>

namespace lumora {

// The history rows in display order, keyed by the entry's id. A republished history changes
// the rows in place: rows whose entry went away are removed, new ones inserted, moved ones
// moved and changed ones reported changed, so views keep their delegates and scroll position.
// Beside the entry's own values a row gives what its card shows, from the entry and the review
// stored on this computer for it (found by the entry's local id).
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
        // QString: the card's heading; the completion time; the clock and the turns.
        HeadingRole,
        TimeRole,
        SubtitleRole,
        // QString: the check-in badge ("Check-in · Week of Feb 9").
        CheckinLabelRole,
        // QString: a hidden row's title and its date and time.
        HiddenTitleRole,
        HiddenDateRole,
        // bool: the review is stored on this computer; QString: its summary, or the line that
        // says it is in the account.
        HasResultRole,
        SummaryRole,
        // bool: the card shows both partners' warm and hard moments; QString: "+3", "−0".
        HasTallyRole,
        WarmRole,
        HardRole,
        // QList<FloorSegment>: the floor bar of a conversation whose review is stored here;
        // empty for a check-in or without the review.
        FloorRole,
        // QString: that the account's storage is full and what makes room, while the upload
        // waits for it; empty otherwise.
        BackupNoteRole,
    };
    Q_ENUM(Role)
    // Where the conversation is kept.
    enum Backup { BackedUp, Waiting, OnlyOnThisComputer };
    Q_ENUM(Backup)

    using QAbstractListModel::QAbstractListModel;

    static Backup backupOf(ConversationBackupDisplayState state);

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    [[nodiscard]] const QList<ConversationHistoryEntry>& entries() const { return m_entries; }
    // The entry with that id (as QML and the rows spell it), if there is one.
    [[nodiscard]] std::optional<ConversationHistoryEntry> entry(const QString& entryID) const;
    // Takes the newly published history, changing only the rows that differ.
    void replace(const QList<ConversationHistoryEntry>& entries);
    // Takes the reviews stored on this computer; the rows whose review changed say so.
    void setResults(const QList<DerivedSessionResult>& results);
    // The locale and zone the dates are read in; every row's dates change.
    void setDateTexts(const DateTexts& dates);

signals:
    // A republished history has been taken in whole.
    void replaced();

private:
    [[nodiscard]] const DerivedSessionResult* resultOf(const ConversationHistoryEntry& entry) const;

    QList<ConversationHistoryEntry> m_entries;
    QHash<QUuid, DerivedSessionResult> m_results;
    DateTexts m_dates = DateTexts::system();
};

} // namespace lumora
