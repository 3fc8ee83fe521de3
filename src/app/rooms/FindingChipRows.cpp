#include "FindingChipRows.hpp"

namespace lumora {

int FindingChipRows::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_chips.size());
}

QVariant FindingChipRows::data(const QModelIndex& index, int role) const
{
    const FindingChipRow* chip = rowAt(m_chips, index);
    if (!chip)
        return {};
    switch (role) {
    case LabelRole:
        return chip->label;
    case FoulRole:
        return chip->foul;
    case PlaceRole:
        return chip->place;
    default:
        return {};
    }
}

QHash<int, QByteArray> FindingChipRows::roleNames() const
{
    return { { LabelRole, "label" }, { FoulRole, "foul" }, { PlaceRole, "place" } };
}

} // namespace lumora
