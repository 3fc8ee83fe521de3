#pragma once

#include "HistoryModel.hpp"

#include <QDateTime>
#include <functional>

namespace lumora {

class SessionViewModel;

// The History page's model over the session view model: it takes each republished history
// into the rows and forwards the other changes; every operation runs the view model's (or,
// for the kept-local action, the backup service's) as a task that reports through them.
class HistoryModelAdapter final : public HistoryModel {
    Q_OBJECT

public:
    HistoryModelAdapter(SessionViewModel& viewModel, std::function<QDateTime()> clock,
        std::chrono::milliseconds refreshInterval = shownRefreshInterval, QObject* parent = nullptr);

    [[nodiscard]] const QList<DerivedSessionResult>& results() const override;
    [[nodiscard]] int conversationsKeptLocal() const override;
    [[nodiscard]] MigrationChoice migrationChoice() const override;
    [[nodiscard]] bool hasBackupService() const override;
    [[nodiscard]] bool refreshFailed() const override;
    [[nodiscard]] QString errorMessage() const override;

    void synchronize(bool refreshFromServer) override;
    void hide(const QString& entryID) override;
    void unhide(const QString& entryID) override;
    void approveDeletion(const QString& entryID) override;
    void declineDeletion(const QString& entryID) override;
    void backUpKeptLocal() override;
    [[nodiscard]] QString participantName(int speaker) const override;
    void dismissError() override;

protected:
    void recordResultReviewed() override;
    QCoro::Task<std::optional<DerivedSessionResult>> fetchReview(ConversationHistoryEntry entry) override;
    QCoro::Task<std::optional<ConversationDeletionOutcome>> deleteEntry(
        ConversationHistoryEntry entry) override;
    [[nodiscard]] DeletionKind deletionKindOf(const ConversationHistoryEntry& entry) const override;

private:
    using Operation = QCoro::Task<void> (SessionViewModel::*)(ConversationHistoryEntry);
    // The view model's history as the page shows it.
    [[nodiscard]] QList<ConversationHistoryEntry> shownEntries() const;
    // Starts the view model's operation on the entry of that id, if there is one.
    void run(const QString& entryID, Operation operation);
    QCoro::Task<void> backUpKeptLocalNow();

    SessionViewModel& m_viewModel;
    std::function<QDateTime()> m_clock;
};

} // namespace lumora
