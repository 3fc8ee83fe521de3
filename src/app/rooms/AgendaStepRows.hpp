#pragma once

#include "AgendaStepValue.hpp"
#include "RowListModel.hpp"

#include <QtQml/qqmlregistration.h>

namespace lumora {

// The agenda strip's steps in order, one row each: its name and whether it is passed or current.
// A new current step changes the rows it moves between, in place, so that the strip keeps its
// buttons; made anew at every change, they took a frame's time in the middle of a conversation.
class AgendaStepRows : public lumora::RowListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The room's state holds the agenda's steps.")

public:
    enum Role {
        // QString
        NameRole = Qt::UserRole + 1,
        // bool
        PassedRole,
        CurrentRole,
    };
    Q_ENUM(Role)

    using RowListModel::RowListModel;

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    [[nodiscard]] const QList<AgendaStepValue>& steps() const { return m_steps; }
    void setSteps(const QList<AgendaStepValue>& steps) { replaceRows(m_steps, steps); }

private:
    QList<AgendaStepValue> m_steps;
};

} // namespace lumora
