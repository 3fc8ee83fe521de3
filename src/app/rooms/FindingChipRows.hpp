#pragma once

#include "RowListModel.hpp"

#include <QList>
#include <QRectF>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// One chip of a transcript row: what it says, whether it is a process foul's, and where it lies.
struct FindingChipRow {
    QString label;
    bool foul = false;
    QRectF place;

    bool operator==(const FindingChipRow&) const = default;
};

// A transcript row's chips as a screen reader meets them, one row per chip ("Protest · 82%"). A
// row that gains chips keeps the items made for the ones it had.
class FindingChipRows : public lumora::RowListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("A row's chips hold their rows.")

public:
    enum Role {
        // QString
        LabelRole = Qt::UserRole + 1,
        // bool
        FoulRole,
        // QRectF: in the chips' item.
        PlaceRole,
    };
    Q_ENUM(Role)

    using RowListModel::RowListModel;

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    void setChips(const QList<FindingChipRow>& chips) { replaceRows(m_chips, chips); }

private:
    QList<FindingChipRow> m_chips;
};

} // namespace lumora
