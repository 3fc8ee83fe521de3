#include "HistoryModel.hpp"

#include <QPointer>

namespace lumora {

HistoryModel::HistoryModel(QObject* parent)
    : QObject(parent)
    , m_entries(new HistoryEntryList(this))
{
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
        m_review = std::move(result);
        m_reviewEntryID = entry.id.toString(QUuid::WithoutBraces);
        emit reviewChanged();
    }
    setOpeningEntryID(QString());
}

void HistoryModel::closeReview()
{
    if (!m_review && m_reviewEntryID.isEmpty())
        return;
    m_review.reset();
    m_reviewEntryID.clear();
    emit reviewChanged();
}

void HistoryModel::setOpeningEntryID(const QString& entryID)
{
    if (m_openingEntryID == entryID)
        return;
    m_openingEntryID = entryID;
    emit openingEntryIDChanged();
}

} // namespace lumora
