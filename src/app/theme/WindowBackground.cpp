#include "WindowBackground.hpp"

#include "ThemePalette.hpp"

#include <QPainter>
#include <QRadialGradient>

namespace lumora {

namespace {

// A colour at the point, fading to clear from `fromRadius` out to `toRadius`.
QRadialGradient glow(QPointF centre, qreal fromRadius, qreal toRadius, const QColor& colour)
{
    QRadialGradient gradient(centre, toRadius, centre, fromRadius);
    gradient.setColorAt(0, colour);
    gradient.setColorAt(1, Qt::transparent);
    return gradient;
}

} // namespace

WindowBackground::WindowBackground(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setOpaquePainting(true);
    setFillColor(ThemePalette::ivory());
}

void WindowBackground::paint(QPainter* painter)
{
    const QRectF area = boundingRect();
    painter->fillRect(
        area, glow(area.topRight(), 16, 720, ThemePalette::withAlpha(ThemePalette::blush(), 0.3)));
    painter->fillRect(
        area, glow(area.bottomLeft(), 16, 680, ThemePalette::withAlpha(ThemePalette::sage(), 0.24)));
}

void WindowBackground::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry)
{
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        update();
}

} // namespace lumora
