#include "FindingChipRows.hpp"

namespace lumora {

int FindingChipRows::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant FindingChipRows::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = m_rows.at(index.row());
    switch (role) {
    case LabelRole:
        return row.label;
    case FoulRole:
        return row.foul;
    case PlaceRole:
        return row.place;
    default:
        return {};
    }
}

QHash<int, QByteArray> FindingChipRows::roleNames() const
{
    return { { LabelRole, "label" }, { FoulRole, "foul" }, { PlaceRole, "place" } };
}

void FindingChipRows::setRows(const QList<Row>& rows)
{
    const qsizetype shown = m_rows.size();
    const qsizetype wanted = rows.size();
    if (wanted < shown) {
        beginRemoveRows({}, int(wanted), int(shown) - 1);
        m_rows.resize(wanted);
        endRemoveRows();
    }
    for (qsizetype at = 0; at < std::min(shown, wanted); ++at) {
        const Row& before = m_rows.at(at);
        const Row& after = rows.at(at);
        QList<int> roles;
        if (after.label != before.label)
            roles.append(LabelRole);
        if (after.foul != before.foul)
            roles.append(FoulRole);
        if (after.place != before.place)
            roles.append(PlaceRole);
        if (roles.isEmpty())
            continue;
        m_rows[at] = after;
        emit dataChanged(index(int(at)), index(int(at)), roles);
    }
    if (wanted > shown) {
        beginInsertRows({}, int(shown), int(wanted) - 1);
        m_rows = rows;
        endInsertRows();
    }
}

} // namespace lumora
