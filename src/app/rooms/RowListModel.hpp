#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QtQml/qqmlregistration.h>
#include <algorithm>

namespace lumora {

// A list model over plain rows that takes a new list in place: the rows that differ change and
// rows come and go at the end, so that a view keeps the delegates of the rows it has (a reset
// makes every one of them anew). Models name it in full as their base, lumora::RowListModel, for
// the QML type registrar, which does not look for a base in the model's namespace.
class RowListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ANONYMOUS

public:
    using QAbstractListModel::QAbstractListModel;

protected:
    // Makes this model's `rows` into `wanted`, telling views as it goes.
    template <typename Row> void replaceRows(QList<Row>& rows, const QList<Row>& wanted)
    {
        const qsizetype shown = rows.size();
        if (wanted.size() < shown) {
            beginRemoveRows({}, int(wanted.size()), int(shown) - 1);
            rows.resize(wanted.size());
            endRemoveRows();
        }
        for (qsizetype at = 0; at < std::min(shown, wanted.size()); ++at) {
            if (wanted.at(at) == rows.at(at))
                continue;
            rows[at] = wanted.at(at);
            emit dataChanged(index(int(at)), index(int(at)));
        }
        if (wanted.size() > shown) {
            beginInsertRows({}, int(shown), int(wanted.size()) - 1);
            rows = wanted;
            endInsertRows();
        }
    }
    // The row of `rows` at an index of this model; null for any other index.
    template <typename Row> const Row* rowAt(const QList<Row>& rows, const QModelIndex& index) const
    {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
            return nullptr;
        return &rows.at(index.row());
    }
};

} // namespace lumora
