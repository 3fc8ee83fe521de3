#pragma once

#include <QColor>
#include <QPainterPath>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// A capsule (a rectangle with half-circle ends) over a fill, outlined with a dashed line of one
// pixel, three on and two off, the line half a pixel inside the item so that all of it shows. It
// is painted when its size or colours change and drawn from that painting at every other frame:
// a foul's chip in the live transcript, which moves with every new turn.
class DashedCapsule : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QColor strokeColor READ strokeColor WRITE setStrokeColor NOTIFY strokeColorChanged)
    Q_PROPERTY(QColor fillColor READ fillColor WRITE setFillColor NOTIFY fillColorChanged)

public:
    explicit DashedCapsule(QQuickItem* parent = nullptr);

    [[nodiscard]] QColor strokeColor() const { return m_strokeColor; }
    void setStrokeColor(const QColor& color);
    [[nodiscard]] QColor fillColor() const { return m_fillColor; }
    void setFillColor(const QColor& color);

    // The capsule's outline in an item of `size`, half a pixel in from each edge.
    static QPainterPath outline(QSizeF size);

    void paint(QPainter* painter) override;

signals:
    void strokeColorChanged();
    void fillColorChanged();

protected:
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    QColor m_strokeColor;
    QColor m_fillColor;
};

} // namespace lumora
