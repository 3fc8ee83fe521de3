#pragma once

#include "TranscriptChipValue.hpp"

#include <QList>
#include <QQuickPaintedItem>
#include <QRectF>
#include <QStringList>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// A transcript row's findings as chips, the annotations' first, then the fouls', flowing from
// the row's side and wrapping at its width, 8 px apart. Each chip is its words in capitals (the
// theme's chip face) in its tint, on a capsule of the tint outlined in a solid line of one pixel
// or, for a process foul, in dashes three on and two off, the line half a pixel inside the chip.
// The row's chips are one item, painted when they change: a new analysis changes the chips of the
// newest rows, and making one item again is cheaper than making each chip again. What each chip
// says and where it lies (`labels`, `places`) is for the items a screen reader meets.
class FindingChips : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QList<TranscriptChipValue> behaviorChips READ behaviorChips WRITE setBehaviorChips NOTIFY chipsChanged)
    Q_PROPERTY(QList<TranscriptChipValue> foulChips READ foulChips WRITE setFoulChips NOTIFY chipsChanged)
    // Whether the chips start at the right edge.
    Q_PROPERTY(bool rightToLeft READ rightToLeft WRITE setRightToLeft NOTIFY rightToLeftChanged)
    // The chips that have words, the annotations' first: how many of them are annotations', what
    // each says as a screen reader reads it ("Protest · 82%"), and the words as drawn.
    Q_PROPERTY(int behaviorCount READ behaviorCount NOTIFY chipsChanged)
    Q_PROPERTY(QStringList labels READ labels NOTIFY chipsChanged)
    Q_PROPERTY(QStringList texts READ texts NOTIFY chipsChanged)
    // Each chip's rectangle in the item, in the same order.
    Q_PROPERTY(QVariantList places READ places NOTIFY placesChanged)

public:
    explicit FindingChips(QQuickItem* parent = nullptr);

    [[nodiscard]] const QList<TranscriptChipValue>& behaviorChips() const { return m_behaviorChips; }
    void setBehaviorChips(const QList<TranscriptChipValue>& chips);
    [[nodiscard]] const QList<TranscriptChipValue>& foulChips() const { return m_foulChips; }
    void setFoulChips(const QList<TranscriptChipValue>& chips);
    [[nodiscard]] bool rightToLeft() const { return m_rightToLeft; }
    void setRightToLeft(bool rightToLeft);

    [[nodiscard]] int behaviorCount() const { return m_behaviorCount; }
    [[nodiscard]] QStringList labels() const;
    [[nodiscard]] QStringList texts() const;
    [[nodiscard]] QVariantList places() const;

    void paint(QPainter* painter) override;

signals:
    void chipsChanged();
    void rightToLeftChanged();
    void placesChanged();

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
    int m_behaviorCount = 0;
};

} // namespace lumora
