#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QRectF>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// A transcript row's chips as a screen reader meets them: one row per chip, with what it says,
// whether it is a process foul, and where the chip lies. Rows change in place and come and go
// at the end, so the items made for them are kept while the row gains chips.
class FindingChipRows : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("A row's chips hold their rows.")

public:
    enum Role {
        // QString: what the chip says ("Protest · 82%").
        LabelRole = Qt::UserRole + 1,
        // bool: a process foul's chip.
        FoulRole,
        // QRectF: the chip's rectangle in the chips' item.
        PlaceRole,
    };
    Q_ENUM(Role)

    struct Row {
        QString label;
        bool foul = false;
        QRectF place;

        bool operator==(const Row&) const = default;
    };

    using QAbstractListModel::QAbstractListModel;

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    void setRows(const QList<Row>& rows);

private:
    QList<Row> m_rows;
};

} // namespace lumora
