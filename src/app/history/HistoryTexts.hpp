#pragma once

#include "DeletionPrompt.hpp"
#include "HistoryEntryList.hpp"
#include "HistoryModel.hpp"
#include "display/DateTexts.hpp"
#include "domain/ConversationHistoryEntry.hpp"
#include "domain/ConversationPresentation.hpp"
#include "domain/DerivedSessionResult.hpp"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <optional>

namespace lumora {

// The words and numbers of the History page, its cards, badges, menus, dialogs and notices,
// each chosen from the values it depends on and nothing else. QML calls the ones it shows by
// state; the row list calls the ones a card shows.
class HistoryTexts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    // Which visibility item an entry's menu offers.
    enum Visibility { NoVisibilityItem, ShowItem, HideItem };
    Q_ENUM(Visibility)

    using QObject::QObject;

    // The entry's title when it shows anything: one of nothing but spaces, control and format
    // characters, marks or blank letters (U+3164) counts as none.
    static std::optional<QString> shownTitle(const ConversationHistoryEntry& entry);
    // A card's heading: the title as it stands when it shows anything, else
    // "Conversation · " or "Weekly check-in · " and the date.
    static QString heading(const ConversationHistoryEntry& entry, const DateTexts& dates);
    // The clock of the duration, and " · N turns" when the turns are known.
    static QString subtitle(const ConversationHistoryEntry& entry);
    // Both partners' warm and hard moments of a conversation's stored review; none for a
    // check-in or without the review.
    static std::optional<ConversationPresentation::WarmHard> tally(
        const ConversationHistoryEntry& entry, const DerivedSessionResult* result);
    // "+3" and "−2" (with the minus sign).
    Q_INVOKABLE static QString warmText(qint64 warm);
    Q_INVOKABLE static QString hardText(qint64 hard);
    // "Check-in · Week of Feb 9" from the GMT week of the moment, or "Check-in".
    static QString checkinLabel(const QDateTime& completedAt, const QLocale& locale);
    // The review's summary, or the line that says it is kept in the account.
    static QString summaryLine(const DerivedSessionResult* result);
    // A hidden row's title: its own when it shows anything, or "Conversation" whatever its mode.
    static QString hiddenTitle(const ConversationHistoryEntry& entry);

    // The menu: show or hide only for what the account holds, then the delete item.
    Q_INVOKABLE static Visibility visibilityItem(HistoryEntryList::Backup backup, bool isHidden);
    Q_INVOKABLE static QString deleteItemTitle(HistoryModel::DeletionKind kind);
    // The review sheet's delete button and the confirmation dialog of a deletion of that kind.
    static DeletionPrompt deletionPrompt(HistoryModel::DeletionKind kind);

    // The badge of where an entry is kept, and its icon.
    Q_INVOKABLE static QString backupTitle(HistoryEntryList::Backup backup);
    Q_INVOKABLE static QString backupSymbol(HistoryEntryList::Backup backup);
    Q_INVOKABLE static QString pendingDeletionText(bool requestedByMe);
    // Under the badge of an upload that waits because the account's storage is full: what makes
    // room. Empty for every other entry.
    static QString backupNote(const ConversationHistoryEntry& entry);

    // The kept-local notice shows while something is kept and the user said to keep it so.
    Q_INVOKABLE static bool showsKeptLocalNotice(int count, HistoryModel::MigrationChoice choice);
    Q_INVOKABLE static QString keptLocalLine(int count);
    Q_INVOKABLE static QString hiddenToggle(int count);

    // As many card columns of at least 420 points, 16 apart, as fit in `width`; at least one.
    Q_INVOKABLE static int gridColumns(double width);
};

} // namespace lumora
