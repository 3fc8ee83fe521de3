#pragma once

#include "RoomMoments.hpp"
#include "RowListModel.hpp"
#include "SignalSummary.hpp"

#include <QtQml/qqmlregistration.h>

namespace lumora {

// The rows a seat's pattern summary shows (at most three) with its header and overflow
// texts, kept up to date from the room's moments and the seat's speaker index.
class SignalSummaryModel : public lumora::RowListModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(lumora::RoomMoments moments READ moments WRITE setMoments NOTIFY momentsChanged)
    Q_PROPERTY(int side READ side WRITE setSide NOTIFY sideChanged)
    Q_PROPERTY(QString momentsText READ momentsText NOTIFY itemsChanged)
    Q_PROPERTY(QString moreText READ moreText NOTIFY itemsChanged)

public:
    enum Role {
        LabelRole = Qt::UserRole + 1, // QString: the kind's display name
        CountTextRole, // QString: "×" and the count
        ColorRole, // QColor: warm or hard
        DashedRole, // bool: a process foul
    };
    Q_ENUM(Role)

    using RowListModel::RowListModel;

    [[nodiscard]] const RoomMoments& moments() const { return m_moments; }
    void setMoments(const RoomMoments& moments);
    [[nodiscard]] int side() const { return m_side; }
    void setSide(int side);
    [[nodiscard]] QString momentsText() const { return SignalSummary::momentsText(m_items); }
    [[nodiscard]] QString moreText() const { return SignalSummary::moreText(m_items); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void momentsChanged();
    void sideChanged();
    void itemsChanged();

private:
    void recount();

    RoomMoments m_moments;
    int m_side = 0;
    // Every kind, and those shown.
    QList<CompactSignal> m_items;
    QList<CompactSignal> m_shown;
};

} // namespace lumora
