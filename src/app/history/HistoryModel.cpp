#include "HistoryModel.hpp"

#include "HistoryTexts.hpp"
#include "ReviewTexts.hpp"

#include <QPointer>
#include <QSortFilterProxyModel>
#include <QTimer>

namespace lumora {

namespace {

// The rows whose hidden flag is `hidden`; a row moves between the two as the flag changes.
QSortFilterProxyModel* rowsHidden(HistoryEntryList* rows, bool hidden, QObject* parent)
{
    auto* filter = new QSortFilterProxyModel(parent);
    filter->setSourceModel(rows);
    filter->setFilterRole(HistoryEntryList::IsHiddenRole);
    filter->setFilterFixedString(hidden ? QStringLiteral("true") : QStringLiteral("false"));
    return filter;
}

} // namespace

HistoryModel::HistoryModel(std::chrono::milliseconds refreshInterval, QObject* parent)
    : QObject(parent)
    , m_entries(new HistoryEntryList(this))
    , m_visibleEntries(rowsHidden(m_entries, false, this))
    , m_hiddenEntries(rowsHidden(m_entries, true, this))
    , m_reviewSheet(new ReviewSheet(*this))
    , m_refresh(new QTimer(this))
{
    m_refresh->setInterval(refreshInterval);
    connect(m_refresh, &QTimer::timeout, this, [this] { synchronize(true); });
    connect(m_entries, &HistoryEntryList::replaced, this, &HistoryModel::refreshOverview);
    connect(m_entries, &HistoryEntryList::replaced, this, &HistoryModel::followOpenReview);
    connect(this, &HistoryModel::resultsChanged, this, [this] { m_entries->setResults(results()); });
    connect(this, &HistoryModel::deletionKindsChanged, this, &HistoryModel::deletingChanged);
}

QAbstractItemModel* HistoryModel::visibleEntries() const
{
    return m_visibleEntries;
}

QAbstractItemModel* HistoryModel::hiddenEntries() const
{
    return m_hiddenEntries;
}

void HistoryModel::setDateTexts(const DateTexts& dates)
{
    m_entries->setDateTexts(dates);
    m_reviewSheet->setDateTexts(dates);
}

void HistoryModel::setShown(bool shown)
{
    if (shown == m_refresh->isActive())
        return;
    if (!shown) {
        m_refresh->stop();
        return;
    }
    m_refresh->start();
    synchronize(true);
}

void HistoryModel::refreshOverview()
{
    HistoryOverview overview = HistoryOverview::of(m_entries->entries());
    if (overview == m_overview)
        return;
    m_overview = std::move(overview);
    emit overviewChanged();
}

void HistoryModel::openReview(const QString& entryID)
{
    if (!m_openingEntryID.isEmpty())
        return;
    const std::optional<ConversationHistoryEntry> entry = m_entries->entry(entryID);
    if (!entry)
        return;
    recordResultReviewed();
    setOpeningEntryID(entryID);
    open(*entry);
}

QCoro::Task<void> HistoryModel::open(ConversationHistoryEntry entry)
{
    const QPointer<HistoryModel> self(this);
    std::optional<DerivedSessionResult> result = co_await fetchReview(entry);
    if (!self)
        co_return;
    if (result) {
        m_reviewEntryID = entry.id.toString(QUuid::WithoutBraces);
        m_reviewSheet->show(std::move(entry), std::move(result));
        // Deleted while it was being fetched: it opens saying so.
        followOpenReview();
        emit reviewChanged();
    }
    setOpeningEntryID(QString());
}

void HistoryModel::closeReview()
{
    if (!m_reviewSheet->isOpen() && m_reviewEntryID.isEmpty())
        return;
    m_reviewEntryID.clear();
    m_reviewSheet->show({}, std::nullopt);
    emit reviewChanged();
}

void HistoryModel::followOpenReview()
{
    // The sheet's own deletion republishes the history before its answer comes: that answer
    // closes the sheet or notes the wait, so the sheet does not say "gone" meanwhile.
    if (!m_removingFromSheet)
        m_reviewSheet->follow(m_entries->entries());
}

void HistoryModel::setOpeningEntryID(const QString& entryID)
{
    if (m_openingEntryID == entryID)
        return;
    m_openingEntryID = entryID;
    emit openingEntryIDChanged();
}

HistoryModel::DeletionKind HistoryModel::deletionKind(const QString& entryID) const
{
    if (const std::optional<ConversationHistoryEntry> entry = m_entries->entry(entryID))
        return deletionKindOf(*entry);
    for (const ConversationHistoryEntry* held : { m_deleting ? &*m_deleting : nullptr,
             m_reviewSheet->isOpen() ? &m_reviewSheet->entry() : nullptr }) {
        if (held && held->id.toString(QUuid::WithoutBraces) == entryID)
            return deletionKindOf(*held);
    }
    return Immediate;
}

void HistoryModel::remove(const QString& entryID)
{
    if (const std::optional<ConversationHistoryEntry> entry = m_entries->entry(entryID))
        removeEntry(*entry);
}

QCoro::Task<void> HistoryModel::removeEntry(ConversationHistoryEntry entry)
{
    // The outcome shows in the republished history.
    co_await deleteEntry(std::move(entry));
}

QString HistoryModel::deletingEntryID() const
{
    return m_deleting ? m_deleting->id.toString(QUuid::WithoutBraces) : QString();
}

DeletionPrompt HistoryModel::deleting() const
{
    return HistoryTexts::deletionPrompt(m_deleting ? deletionKindOf(*m_deleting) : Immediate);
}

void HistoryModel::requestDelete(const QString& entryID)
{
    const std::optional<ConversationHistoryEntry> entry = m_entries->entry(entryID);
    if (!entry || entry == m_deleting)
        return;
    m_deleting = entry;
    emit deletingChanged();
}

void HistoryModel::cancelDelete()
{
    if (!m_deleting)
        return;
    m_deleting.reset();
    emit deletingChanged();
}

void HistoryModel::confirmDelete()
{
    if (!m_deleting)
        return;
    const ConversationHistoryEntry entry = *std::exchange(m_deleting, std::nullopt);
    emit deletingChanged();
    removeEntry(entry);
}

void HistoryModel::removeReviewed()
{
    if (m_reviewSheet->isOpen() && !m_reviewSheet->isGone() && !m_removingFromSheet)
        removeFromSheet(m_reviewSheet->entry());
}

QCoro::Task<void> HistoryModel::removeFromSheet(ConversationHistoryEntry entry)
{
    const QPointer<HistoryModel> self(this);
    const QUuid id = entry.id;
    m_removingFromSheet = true;
    const std::optional<ConversationDeletionOutcome> outcome = co_await deleteEntry(std::move(entry));
    if (!self)
        co_return;
    m_removingFromSheet = false;
    // Only the sheet that asked hears the answer: it may have closed, or shows another review.
    if (!m_reviewSheet->isOpen() || m_reviewSheet->entry().id != id) {
        followOpenReview();
        co_return;
    }
    // A conversation the account no longer held had left before the request: the sheet stays
    // to say it is gone (the history no longer lists it) rather than closing without a word.
    if (outcome && outcome->isDeleted() && !outcome->wasAlreadyGone())
        closeReview();
    else if (outcome)
        m_reviewSheet->setDeletionNote(ReviewTexts::partnerAskedNote());
    followOpenReview();
}

} // namespace lumora
