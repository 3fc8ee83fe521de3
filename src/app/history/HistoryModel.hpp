#pragma once

#include "HistoryEntryList.hpp"
#include "domain/DerivedSessionResult.hpp"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumora {

// What the History page and the review sheet read and call: the history rows, the reviews
// stored on this computer, the kept-local count and the migration answer, the last failure,
// and the operations on one entry, named by its id. Each operation starts at once and reports
// through the published state. The shell hands in the adapter over the session view model;
// window tests hand in a fake.
class HistoryModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The History page reads the model the shell hands it.")
    Q_PROPERTY(HistoryEntryList* entries READ entries CONSTANT)
    Q_PROPERTY(int conversationsKeptLocal READ conversationsKeptLocal NOTIFY conversationsKeptLocalChanged)
    Q_PROPERTY(MigrationChoice migrationChoice READ migrationChoice NOTIFY migrationChoiceChanged)
    Q_PROPERTY(bool hasBackupService READ hasBackupService NOTIFY hasBackupServiceChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString openingEntryID READ openingEntryID NOTIFY openingEntryIDChanged)
    Q_PROPERTY(QString reviewEntryID READ reviewEntryID NOTIFY reviewChanged)

public:
    // The one-time answer to the offer to add earlier conversations to the account.
    enum MigrationChoice { NotAnswered, Accepted, Declined };
    Q_ENUM(MigrationChoice)
    // What deleting an entry does: at once, after the partner agrees, or either.
    enum DeletionKind { Immediate, SharedWithPartner, Undetermined };
    Q_ENUM(DeletionKind)

    explicit HistoryModel(QObject* parent = nullptr);

    [[nodiscard]] HistoryEntryList* entries() const { return m_entries; }
    // The reviews stored on this computer, newest first, for the presenters that read them
    // whole.
    [[nodiscard]] virtual const QList<DerivedSessionResult>& results() const = 0;
    [[nodiscard]] virtual int conversationsKeptLocal() const = 0;
    [[nodiscard]] virtual MigrationChoice migrationChoice() const = 0;
    [[nodiscard]] virtual bool hasBackupService() const = 0;
    [[nodiscard]] virtual QString errorMessage() const = 0;
    // The entry whose review is being fetched; empty while none is.
    [[nodiscard]] QString openingEntryID() const { return m_openingEntryID; }
    // The entry whose review is open, and the review; empty and nothing while none is.
    [[nodiscard]] QString reviewEntryID() const { return m_reviewEntryID; }
    [[nodiscard]] const std::optional<DerivedSessionResult>& review() const { return m_review; }

    // Refreshes the history, from the server too when asked.
    Q_INVOKABLE virtual void synchronize(bool refreshFromServer) = 0;
    // Fetches the entry's review and opens it; ignored while another one is being fetched.
    // The review counts as reviewed before it is fetched.
    Q_INVOKABLE void openReview(const QString& entryID);
    Q_INVOKABLE void closeReview();
    [[nodiscard]] Q_INVOKABLE virtual DeletionKind deletionKind(const QString& entryID) const = 0;
    Q_INVOKABLE virtual void remove(const QString& entryID) = 0;
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
    void errorMessageChanged();
    void openingEntryIDChanged();
    void reviewChanged();

protected:
    virtual void recordResultReviewed() = 0;
    // The entry's review: the one stored here, else the account's; nothing when it cannot be
    // had (the failure is published as the error).
    virtual QCoro::Task<std::optional<DerivedSessionResult>> fetchReview(ConversationHistoryEntry entry) = 0;

private:
    QCoro::Task<void> open(ConversationHistoryEntry entry);
    void setOpeningEntryID(const QString& entryID);

    HistoryEntryList* m_entries;
    QString m_openingEntryID;
    QString m_reviewEntryID;
    std::optional<DerivedSessionResult> m_review;
};

} // namespace lumora
