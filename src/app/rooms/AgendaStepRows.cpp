#include "AgendaStepRows.hpp"

namespace lumora {

int AgendaStepRows::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_steps.size());
}

QVariant AgendaStepRows::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const AgendaStepValue& step = m_steps.at(index.row());
    switch (role) {
    case NameRole:
        return step.name;
    case PassedRole:
        return step.passed;
    case CurrentRole:
        return step.current;
    default:
        return {};
    }
}

QHash<int, QByteArray> AgendaStepRows::roleNames() const
{
    return { { NameRole, "name" }, { PassedRole, "passed" }, { CurrentRole, "current" } };
}

void AgendaStepRows::setSteps(const QList<AgendaStepValue>& steps)
{
    if (steps.size() != m_steps.size()) {
        beginResetModel();
        m_steps = steps;
        endResetModel();
        return;
    }
    for (qsizetype row = 0; row < steps.size(); ++row) {
        if (steps.at(row) == m_steps.at(row))
            continue;
        m_steps[row] = steps.at(row);
        emit dataChanged(index(int(row)), index(int(row)));
    }
}

} // namespace lumora
