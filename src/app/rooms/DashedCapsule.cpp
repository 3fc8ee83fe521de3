#include "DashedCapsule.hpp"

#include <QPainter>

namespace lumora {

DashedCapsule::DashedCapsule(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

void DashedCapsule::setStrokeColor(const QColor& color)
{
    if (color == m_strokeColor)
        return;
    m_strokeColor = color;
    emit strokeColorChanged();
    update();
}

void DashedCapsule::setFillColor(const QColor& color)
{
    if (color == m_fillColor)
        return;
    m_fillColor = color;
    emit fillColorChanged();
    update();
}

QPainterPath DashedCapsule::outline(QSizeF size)
{
    QPainterPath path;
    const QRectF inside = QRectF(QPointF(), size).adjusted(0.5, 0.5, -0.5, -0.5);
    if (inside.isEmpty())
        return path;
    const qreal radius = inside.height() / 2;
    path.addRoundedRect(inside, radius, radius);
    return path;
}

void DashedCapsule::paint(QPainter* painter)
{
    const QPainterPath path = outline(size());
    if (path.isEmpty())
        return;
    painter->setRenderHint(QPainter::Antialiasing);
    QPen pen(m_strokeColor, 1);
    pen.setDashPattern({ 3, 2 });
    painter->setPen(pen);
    painter->setBrush(m_fillColor);
    painter->drawPath(path);
}

void DashedCapsule::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry)
{
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        update();
}

} // namespace lumora
