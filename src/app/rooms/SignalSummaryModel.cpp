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
    // Every analysis may change a count: the shown rows change in place and come and go at the
    // end, so the list keeps the rows it has drawn.
    const int shown = rowCount();
    const int wanted = int(std::min(items.size(), SignalSummary::shownRows));
    if (wanted < shown) {
        beginRemoveRows({}, wanted, shown - 1);
        m_items.resize(wanted);
        endRemoveRows();
    }
    const QList<CompactSignal> before = m_items;
    if (wanted > shown) {
        beginInsertRows({}, shown, wanted - 1);
        m_items = std::move(items);
        endInsertRows();
    } else {
        m_items = std::move(items);
    }
    for (int row = 0; row < std::min(shown, wanted); ++row) {
        if (!(before.at(row) == m_items.at(row)))
            emit dataChanged(index(row), index(row));
    }
    emit itemsChanged();
}

int SignalSummaryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(std::min(m_items.size(), SignalSummary::shownRows));
}

QVariant SignalSummaryModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const CompactSignal& item = m_items.at(index.row());
    switch (role) {
    case LabelRole:
        return item.label;
    case CountTextRole:
        return QStringLiteral("\u00D7%1").arg(item.count);
    case ColorRole:
        return item.color;
    case DashedRole:
        return item.dashed;
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
