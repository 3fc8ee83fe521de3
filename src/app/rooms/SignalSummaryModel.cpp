#include "SignalSummaryModel.hpp"

namespace lumora {

void SignalSummaryModel::setMoments(const RoomMoments& moments)
{
    if (moments == m_moments)
        return;
    m_moments = moments;
    emit momentsChanged();
    recount();
}

void SignalSummaryModel::setSide(int side)
{
    if (side == m_side)
        return;
    m_side = side;
    emit sideChanged();
    recount();
}

void SignalSummaryModel::recount()
{
    QList<CompactSignal> items = SignalSummary::items(m_moments.annotations, m_moments.fouls, m_side);
    if (items == m_items)
        return;
    // Every analysis may change a count: the shown rows change in place.
    m_items = std::move(items);
    replaceRows(m_shown, m_items.mid(0, SignalSummary::shownRows));
    emit itemsChanged();
}

int SignalSummaryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_shown.size());
}

QVariant SignalSummaryModel::data(const QModelIndex& index, int role) const
{
    const CompactSignal* item = rowAt(m_shown, index);
    if (!item)
        return {};
    switch (role) {
    case LabelRole:
        return item->label;
    case CountTextRole:
        return QStringLiteral("\u00D7%1").arg(item->count);
    case ColorRole:
        return item->color;
    case DashedRole:
        return item->dashed;
    default:
        return {};
    }
}

QHash<int, QByteArray> SignalSummaryModel::roleNames() const
{
    return { { LabelRole, "label" }, { CountTextRole, "countText" }, { ColorRole, "color" },
        { DashedRole, "dashed" } };
}

} // namespace lumora
