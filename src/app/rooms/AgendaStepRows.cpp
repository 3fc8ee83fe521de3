#include "AgendaStepRows.hpp"

namespace lumora {

int AgendaStepRows::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_steps.size());
}

QVariant AgendaStepRows::data(const QModelIndex& index, int role) const
{
    const AgendaStepValue* step = rowAt(m_steps, index);
    if (!step)
        return {};
    switch (role) {
    case NameRole:
        return step->name;
    case PassedRole:
        return step->passed;
    case CurrentRole:
        return step->current;
    default:
        return {};
    }
}

QHash<int, QByteArray> AgendaStepRows::roleNames() const
{
    return { { NameRole, "name" }, { PassedRole, "passed" }, { CurrentRole, "current" } };
}

} // namespace lumora
