#include "HistoryModelAdapter.hpp"

#include "appcore/ConversationBackupService.hpp"
#include "viewmodel/SessionViewModel.hpp"

#include <QPointer>
#include <limits>

namespace lumora {

HistoryModelAdapter::HistoryModelAdapter(SessionViewModel& viewModel, std::function<QDateTime()> clock,
    std::chrono::milliseconds refreshInterval, QObject* parent)
    : HistoryModel(refreshInterval, parent)
    , m_viewModel(viewModel)
    , m_clock(std::move(clock))
{
    entries()->setResults(m_viewModel.results());
    entries()->replace(shownEntries());
    connect(&m_viewModel, &SessionViewModel::historyEntriesChanged, this,
        [this] { entries()->replace(shownEntries()); });
    connect(&m_viewModel, &SessionViewModel::resultsChanged, this, &HistoryModel::resultsChanged);
    connect(&m_viewModel, &SessionViewModel::conversationsKeptLocalChanged, this,
        &HistoryModel::conversationsKeptLocalChanged);
    connect(
        &m_viewModel, &SessionViewModel::migrationChoiceChanged, this, &HistoryModel::migrationChoiceChanged);
    // The services come and go with the account.
    connect(&m_viewModel, &SessionViewModel::accountChanged, this, &HistoryModel::hasBackupServiceChanged);
    connect(&m_viewModel, &SessionViewModel::errorMessageChanged, this, &HistoryModel::errorMessageChanged);
    connect(&m_viewModel, &SessionViewModel::historyRefreshFailedChanged, this,
        &HistoryModel::refreshFailedChanged);
    // What deleting does depends on the pairing state and on the account.
    connect(&m_viewModel, &SessionViewModel::pairingChanged, this, [this] {
        entries()->replace(shownEntries());
        emit deletionKindsChanged();
    });
    connect(&m_viewModel, &SessionViewModel::accountChanged, this, &HistoryModel::deletionKindsChanged);
    connect(&m_viewModel, &SessionViewModel::participantNamesChanged, this,
        &HistoryModel::participantNamesChanged);
}

QList<ConversationHistoryEntry> HistoryModelAdapter::shownEntries() const
{
    // A deletion this user asked for that no partner can answer any more (the partner left)
    // waits on nobody: deleting the conversation now removes it at once.
    QList<ConversationHistoryEntry> rows = m_viewModel.historyEntries();
    for (ConversationHistoryEntry& row : rows) {
        if (row.pendingDeletion && row.pendingDeletion->requestedByMe
            && m_viewModel.deletionKind(row) == ConversationDeletionKind::immediate)
            row.pendingDeletion.reset();
    }
    return rows;
}

const QList<DerivedSessionResult>& HistoryModelAdapter::results() const
{
    return m_viewModel.results();
}

int HistoryModelAdapter::conversationsKeptLocal() const
{
    return int(std::clamp<qint64>(m_viewModel.conversationsKeptLocal(), 0, std::numeric_limits<int>::max()));
}

HistoryModel::MigrationChoice HistoryModelAdapter::migrationChoice() const
{
    const auto& choice = m_viewModel.migrationChoice();
    if (!choice)
        return NotAnswered;
    return *choice == ConversationMigrationChoice::accepted ? Accepted : Declined;
}

bool HistoryModelAdapter::hasBackupService() const
{
    return m_viewModel.backupService() != nullptr;
}

bool HistoryModelAdapter::refreshFailed() const
{
    return m_viewModel.historyRefreshFailed();
}

QString HistoryModelAdapter::errorMessage() const
{
    return m_viewModel.errorMessage().value_or(QString());
}

void HistoryModelAdapter::synchronize(bool refreshFromServer)
{
    m_viewModel.refreshHistory(refreshFromServer);
}

void HistoryModelAdapter::run(const QString& entryID, Operation operation)
{
    if (const std::optional<ConversationHistoryEntry> entry = entries()->entry(entryID))
        (m_viewModel.*operation)(*entry);
}

void HistoryModelAdapter::hide(const QString& entryID)
{
    run(entryID, &SessionViewModel::hide);
}

void HistoryModelAdapter::unhide(const QString& entryID)
{
    run(entryID, &SessionViewModel::unhide);
}

void HistoryModelAdapter::approveDeletion(const QString& entryID)
{
    run(entryID, &SessionViewModel::approveDeletion);
}

void HistoryModelAdapter::declineDeletion(const QString& entryID)
{
    run(entryID, &SessionViewModel::declineDeletion);
}

void HistoryModelAdapter::backUpKeptLocal()
{
    backUpKeptLocalNow();
}

QCoro::Task<void> HistoryModelAdapter::backUpKeptLocalNow()
{
    // The service is held for the whole upload: a sign-out meanwhile drops the view model's.
    const std::shared_ptr<ConversationBackupService> service = m_viewModel.backupService();
    if (!service)
        co_return;
    const QPointer<SessionViewModel> viewModel(&m_viewModel);
    m_viewModel.setMigrationChoice(ConversationMigrationChoice::accepted);
    co_await service->backUpConversationsKeptLocal(m_clock());
    if (viewModel)
        co_await viewModel->synchronizeHistory(false);
}

QString HistoryModelAdapter::participantName(int speaker) const
{
    return m_viewModel.participantName(speaker);
}

void HistoryModelAdapter::dismissError()
{
    m_viewModel.setErrorMessage(std::nullopt);
}

void HistoryModelAdapter::recordResultReviewed()
{
    m_viewModel.recordResultReviewed();
}

QCoro::Task<std::optional<DerivedSessionResult>> HistoryModelAdapter::fetchReview(
    ConversationHistoryEntry entry)
{
    return m_viewModel.review(std::move(entry));
}

QCoro::Task<std::optional<ConversationDeletionOutcome>> HistoryModelAdapter::deleteEntry(
    ConversationHistoryEntry entry)
{
    return m_viewModel.remove(std::move(entry));
}

HistoryModel::DeletionKind HistoryModelAdapter::deletionKindOf(const ConversationHistoryEntry& entry) const
{
    switch (m_viewModel.deletionKind(entry)) {
    case ConversationDeletionKind::immediate:
        return Immediate;
    case ConversationDeletionKind::sharedWithPartner:
        return SharedWithPartner;
    case ConversationDeletionKind::undetermined:
        break;
    }
    return Undetermined;
}

} // namespace lumora
