#pragma once

#include "DeletionPrompt.hpp"
#include "HistoryEntryList.hpp"
#include "HistoryOverview.hpp"
#include "ReviewSheet.hpp"
#include "display/DateTexts.hpp"
#include "domain/ConversationDeletionOutcome.hpp"
#include "domain/DerivedSessionResult.hpp"

#include <QAbstractItemModel>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <chrono>
#include <optional>
#include <qcoro/qcorotask.h>

class QSortFilterProxyModel;
class QTimer;

namespace lumora {

// What the History page and the review sheet read and call: the history rows (all of them,
// the visible and the hidden ones), the page's state and totals, the reviews stored on this
// computer, the kept-local count and the migration answer, the last failure, the open review
// and the entry whose deletion is being confirmed, and the operations on one entry, named by
// its id. Each operation starts at once and reports through the published state. The shell
// hands in the adapter over the session view model; window tests hand in a fake.
class HistoryModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The History page reads the model the shell hands it.")
    Q_PROPERTY(HistoryEntryList* entries READ entries CONSTANT)
    Q_PROPERTY(QAbstractItemModel* visibleEntries READ visibleEntries CONSTANT)
    Q_PROPERTY(QAbstractItemModel* hiddenEntries READ hiddenEntries CONSTANT)
    Q_PROPERTY(lumora::HistoryOverview overview READ overview NOTIFY overviewChanged)
    Q_PROPERTY(int conversationsKeptLocal READ conversationsKeptLocal NOTIFY conversationsKeptLocalChanged)
    Q_PROPERTY(MigrationChoice migrationChoice READ migrationChoice NOTIFY migrationChoiceChanged)
    Q_PROPERTY(bool hasBackupService READ hasBackupService NOTIFY hasBackupServiceChanged)
    Q_PROPERTY(bool refreshFailed READ refreshFailed NOTIFY refreshFailedChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString openingEntryID READ openingEntryID NOTIFY openingEntryIDChanged)
    Q_PROPERTY(QString reviewEntryID READ reviewEntryID NOTIFY reviewChanged)
    Q_PROPERTY(lumora::ReviewSheet* reviewSheet READ reviewSheet CONSTANT)
    // The entry whose deletion the page asks to confirm, and the words of that deletion.
    Q_PROPERTY(QString deletingEntryID READ deletingEntryID NOTIFY deletingChanged)
    Q_PROPERTY(lumora::DeletionPrompt deleting READ deleting NOTIFY deletingChanged)

public:
    // The one-time answer to the offer to add earlier conversations to the account.
    enum MigrationChoice { NotAnswered, Accepted, Declined };
    Q_ENUM(MigrationChoice)
    // What deleting an entry does: at once, after the partner agrees, or either.
    enum DeletionKind { Immediate, SharedWithPartner, Undetermined };
    Q_ENUM(DeletionKind)

    // How often the history is read again from the account while the page is shown.
    static constexpr std::chrono::milliseconds shownRefreshInterval = std::chrono::seconds(30);

    explicit HistoryModel(
        std::chrono::milliseconds refreshInterval = shownRefreshInterval, QObject* parent = nullptr);

    [[nodiscard]] HistoryEntryList* entries() const { return m_entries; }
    [[nodiscard]] QAbstractItemModel* visibleEntries() const;
    [[nodiscard]] QAbstractItemModel* hiddenEntries() const;
    [[nodiscard]] const HistoryOverview& overview() const { return m_overview; }
    // The reviews stored on this computer, newest first, for the presenters that read them
    // whole.
    [[nodiscard]] virtual const QList<DerivedSessionResult>& results() const = 0;
    [[nodiscard]] virtual int conversationsKeptLocal() const = 0;
    [[nodiscard]] virtual MigrationChoice migrationChoice() const = 0;
    [[nodiscard]] virtual bool hasBackupService() const = 0;
    // The last refresh of the account's list failed: the rows are those read before.
    [[nodiscard]] virtual bool refreshFailed() const = 0;
    [[nodiscard]] virtual QString errorMessage() const = 0;
    // The entry whose review is being fetched; empty while none is.
    [[nodiscard]] QString openingEntryID() const { return m_openingEntryID; }
    // The entry whose review is open, and the review; empty and nothing while none is.
    [[nodiscard]] QString reviewEntryID() const { return m_reviewEntryID; }
    [[nodiscard]] const std::optional<DerivedSessionResult>& review() const
    {
        return m_reviewSheet->result();
    }
    [[nodiscard]] ReviewSheet* reviewSheet() const { return m_reviewSheet; }
    [[nodiscard]] QString deletingEntryID() const;
    [[nodiscard]] DeletionPrompt deleting() const;
    // Dates in the locale and zone the texts are read in (the user's own unless a test says).
    void setDateTexts(const DateTexts& dates);

    // Refreshes the history, from the server too when asked.
    Q_INVOKABLE virtual void synchronize(bool refreshFromServer) = 0;
    // The page came on screen, or left it. While it is shown the history is read from the
    // account as it comes and then every refresh interval, so that what changed elsewhere (a
    // partner's approval, a conversation hidden on another computer) shows without a click.
    Q_INVOKABLE void setShown(bool shown);
    // Fetches the entry's review and opens it; ignored while another one is being fetched.
    // The review counts as reviewed before it is fetched.
    Q_INVOKABLE void openReview(const QString& entryID);
    Q_INVOKABLE void closeReview();
    // What deleting the entry does, asked afresh each time: it follows the pairing state. An
    // entry no longer listed is still known while its dialog or its review is open.
    [[nodiscard]] Q_INVOKABLE DeletionKind deletionKind(const QString& entryID) const;
    // Deletes at once, without asking; the outcome shows in the republished history.
    Q_INVOKABLE void remove(const QString& entryID);
    // The page's confirmation: the entry is held until the dialog is answered, even if the
    // history is republished meanwhile. Confirming lets go of it first, then deletes it.
    Q_INVOKABLE void requestDelete(const QString& entryID);
    Q_INVOKABLE void cancelDelete();
    Q_INVOKABLE void confirmDelete();
    // Deletes the open review's conversation: the sheet closes when this deleted it, says so
    // when the partner has to agree first, and says it is gone when the account no longer held
    // it; a failure leaves the sheet as it was. Nothing while a deletion from the sheet waits,
    // or once the history no longer lists the conversation.
    Q_INVOKABLE void removeReviewed();
    Q_INVOKABLE virtual void hide(const QString& entryID) = 0;
    Q_INVOKABLE virtual void unhide(const QString& entryID) = 0;
    Q_INVOKABLE virtual void approveDeletion(const QString& entryID) = 0;
    Q_INVOKABLE virtual void declineDeletion(const QString& entryID) = 0;
    // Adds the conversations kept on this computer to the account history after all; nothing
    // without a backup service.
    Q_INVOKABLE virtual void backUpKeptLocal() = 0;
    // The display name of a speaker's seat.
    [[nodiscard]] Q_INVOKABLE virtual QString participantName(int speaker) const = 0;
    Q_INVOKABLE virtual void dismissError() = 0;

signals:
    void resultsChanged();
    void conversationsKeptLocalChanged();
    void migrationChoiceChanged();
    void hasBackupServiceChanged();
    void refreshFailedChanged();
    void errorMessageChanged();
    void openingEntryIDChanged();
    void reviewChanged();
    void overviewChanged();
    void deletingChanged();
    // What deleting an entry does may have changed (the pairing state did).
    void deletionKindsChanged();
    void participantNamesChanged();

protected:
    virtual void recordResultReviewed() = 0;
    // The entry's review: the one stored here, else the account's; nothing when it cannot be
    // had (the failure is published as the error).
    virtual QCoro::Task<std::optional<DerivedSessionResult>> fetchReview(ConversationHistoryEntry entry) = 0;
    // Deletes the entry: gone, or waiting for the partner; nothing when it failed (the failure
    // is published as the error).
    virtual QCoro::Task<std::optional<ConversationDeletionOutcome>> deleteEntry(
        ConversationHistoryEntry entry)
        = 0;
    [[nodiscard]] virtual DeletionKind deletionKindOf(const ConversationHistoryEntry& entry) const = 0;

private:
    QCoro::Task<void> open(ConversationHistoryEntry entry);
    QCoro::Task<void> removeEntry(ConversationHistoryEntry entry);
    QCoro::Task<void> removeFromSheet(ConversationHistoryEntry entry);
    void setOpeningEntryID(const QString& entryID);
    void followOpenReview();
    void refreshOverview();

    HistoryEntryList* m_entries;
    QSortFilterProxyModel* m_visibleEntries;
    QSortFilterProxyModel* m_hiddenEntries;
    HistoryOverview m_overview;
    QString m_openingEntryID;
    QString m_reviewEntryID;
    ReviewSheet* m_reviewSheet;
    QTimer* m_refresh;
    std::optional<ConversationHistoryEntry> m_deleting;
    // A deletion asked from the sheet waits for its answer.
    bool m_removingFromSheet = false;
};

} // namespace lumora
