#pragma once

#include "FindingChipRows.hpp"
#include "TranscriptChipValue.hpp"

#include <QList>
#include <QQuickPaintedItem>
#include <QRectF>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// A transcript row's findings as chips, the annotations' first, then the fouls', flowing from
// the row's side and wrapping at its width, 8 px apart. Each chip is its words in capitals (the
// theme's chip face) in its tint, on a capsule of the tint outlined in a solid line of one pixel
// or, for a process foul, in dashes three on and two off, the line half a pixel inside the chip.
// The row's chips are one item, painted when they change: a new analysis changes the chips of the
// newest rows, and painting one item again is cheaper than making each chip again. What each chip
// says and where it lies is in `rows`, for the items a screen reader meets.
class FindingChips : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QList<lumora::TranscriptChipValue> behaviorChips READ behaviorChips WRITE setBehaviorChips
            NOTIFY chipsChanged)
    Q_PROPERTY(
        QList<lumora::TranscriptChipValue> foulChips READ foulChips WRITE setFoulChips NOTIFY chipsChanged)
    // Whether the chips start at the right edge.
    Q_PROPERTY(bool rightToLeft READ rightToLeft WRITE setRightToLeft NOTIFY rightToLeftChanged)
    // How many chips have words (a code this build does not know has none, and no chip), and the
    // words as drawn, the annotations' first.
    Q_PROPERTY(int count READ count NOTIFY chipsChanged)
    Q_PROPERTY(QStringList texts READ texts NOTIFY chipsChanged)
    // The chips as a screen reader meets them.
    Q_PROPERTY(lumora::FindingChipRows* rows READ rows CONSTANT)

public:
    explicit FindingChips(QQuickItem* parent = nullptr);

    [[nodiscard]] const QList<TranscriptChipValue>& behaviorChips() const { return m_behaviorChips; }
    void setBehaviorChips(const QList<TranscriptChipValue>& chips);
    [[nodiscard]] const QList<TranscriptChipValue>& foulChips() const { return m_foulChips; }
    void setFoulChips(const QList<TranscriptChipValue>& chips);
    [[nodiscard]] bool rightToLeft() const { return m_rightToLeft; }
    void setRightToLeft(bool rightToLeft);

    [[nodiscard]] int count() const { return int(m_chips.size()); }
    [[nodiscard]] QStringList texts() const;
    [[nodiscard]] FindingChipRows* rows() { return &m_rows; }

    void paint(QPainter* painter) override;

signals:
    void chipsChanged();
    void rightToLeftChanged();

protected:
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    struct Chip {
        QString label;
        QString text;
        QColor tint;
        bool dashed = false;
        QSizeF size;
        QRectF place;
    };

    void remake();
    void place();

    QList<TranscriptChipValue> m_behaviorChips;
    QList<TranscriptChipValue> m_foulChips;
    bool m_rightToLeft = false;
    QList<Chip> m_chips;
    FindingChipRows m_rows;
};

} // namespace lumora
