#include "FloorStrip.hpp"

#include "theme/ThemePalette.hpp"

#include <QPainter>
#include <QPainterPath>

namespace lumora {

FloorStrip::FloorStrip(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

void FloorStrip::setSegments(const QList<FloorSegment>& segments)
{
    if (segments == m_segments)
        return;
    m_segments = segments;
    emit segmentsChanged();
    update();
}

void FloorStrip::paint(QPainter* painter)
{
    const QRectF strip(0, 0, width(), height());
    QPainterPath capsule;
    capsule.addRoundedRect(strip, strip.height() / 2, strip.height() / 2);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setClipPath(capsule);
    painter->setPen(Qt::NoPen);
    double x = 0;
    for (const FloorSegment& segment : m_segments) {
        // Shares are held to 0...1 already; together they may still run past the strip.
        const double width = segment.share * strip.width();
        painter->setBrush(segment.isLeftSeat ? ThemePalette::positive() : ThemePalette::information());
        painter->drawRect(QRectF(x, 0, width, strip.height()));
        x += width;
    }
}

} // namespace lumora
