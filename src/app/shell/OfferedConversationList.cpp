#include "OfferedConversationList.hpp"

#include "display/DisplayFormats.hpp"
#include "history/HistoryTexts.hpp"

#include <algorithm>

namespace lumora {

OfferedConversationList::OfferedConversationList(QObject* parent)
    : RowListModel(parent)
{
}

int OfferedConversationList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant OfferedConversationList::data(const QModelIndex& index, int role) const
{
    const Row* row = rowAt(m_rows, index);
    if (!row)
        return {};
    switch (role) {
    case ConversationIDRole:
        return row->localID.toString(QUuid::WithoutBraces);
    case HeadingRole:
        return row->heading;
    case DetailRole:
        return row->detail;
    case ChosenRole:
        return row->chosen;
    default:
        return {};
    }
}

QHash<int, QByteArray> OfferedConversationList::roleNames() const
{
    return { { ConversationIDRole, "conversationID" }, { HeadingRole, "heading" }, { DetailRole, "detail" },
        { ChosenRole, "chosen" } };
}

void OfferedConversationList::replace(const QList<ConversationHistoryEntry>& entries, const DateTexts& dates)
{
    QList<Row> wanted;
    wanted.reserve(entries.size());
    for (const ConversationHistoryEntry& entry : entries) {
        Row row { entry.localID.value_or(entry.id), HistoryTexts::heading(entry, dates),
            dates.dateAndTime(entry.completedAt) + QStringLiteral(" \u00b7 ")
                + DisplayFormats::clock(entry.duration) };
        const auto before = std::ranges::find(m_rows, row.localID, &Row::localID);
        if (before != m_rows.end())
            row.chosen = before->chosen;
        wanted.append(std::move(row));
    }
    replaceRows(m_rows, wanted);
}

void OfferedConversationList::setChosen(int row, bool chosen)
{
    if (row < 0 || row >= m_rows.size() || m_rows.at(row).chosen == chosen)
        return;
    m_rows[row].chosen = chosen;
    emit dataChanged(index(row), index(row), { ChosenRole });
}

QList<QUuid> OfferedConversationList::chosen() const
{
    QList<QUuid> ids;
    for (const Row& row : m_rows) {
        if (row.chosen)
            ids.append(row.localID);
    }
    return ids;
}

} // namespace lumora
