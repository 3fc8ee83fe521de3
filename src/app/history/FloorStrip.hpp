#pragma once

#include "ReviewRows.hpp"

#include <QList>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The floor bar's strip: each seat's share laid side by side from the leading edge in its
// seat's colour, the whole row cut to a capsule; where the shares add up to less than the
// whole, the rest of the strip stays empty.
class FloorStrip : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QList<lumora::FloorSegment> segments READ segments WRITE setSegments NOTIFY segmentsChanged)

public:
    explicit FloorStrip(QQuickItem* parent = nullptr);

    [[nodiscard]] const QList<FloorSegment>& segments() const { return m_segments; }
    void setSegments(const QList<FloorSegment>& segments);

    void paint(QPainter* painter) override;

signals:
    void segmentsChanged();

private:
    QList<FloorSegment> m_segments;
};

} // namespace lumora
