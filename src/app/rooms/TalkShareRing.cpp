#include "TalkShareRing.hpp"

#include "domain/Confidence.hpp"
#include "theme/ThemePalette.hpp"

#include <QPainter>
#include <QPainterPath>

namespace lumora {

TalkShareRing::TalkShareRing(QQuickItem* parent)
    : QQuickPaintedItem(parent)
    , m_color(ThemePalette::positive())
{
    setAntialiasing(true);
}

void TalkShareRing::setShare(double share)
{
    if (share == m_share)
        return;
    m_share = share;
    emit shareChanged();
    update();
}

void TalkShareRing::setColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    emit colorChanged();
    update();
}

double TalkShareRing::sweep(double share)
{
    return 360 * clampedConfidence(share);
}

void TalkShareRing::paint(QPainter* painter)
{
    const double margin = strokeMargin();
    const QRectF circle = boundingRect().adjusted(margin, margin, -margin, -margin);
    if (circle.isEmpty())
        return;
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(ThemePalette::withAlpha(ThemePalette::ink(), 0.08), strokeWidth));
    painter->drawEllipse(circle);

    const double degrees = sweep(m_share);
    if (degrees <= 0)
        return;
    // Qt's angles run anticlockwise from three o'clock: the top is 90°, clockwise negative.
    QPainterPath arc;
    arc.arcMoveTo(circle, 90);
    arc.arcTo(circle, 90, -degrees);
    painter->strokePath(arc, QPen(m_color, strokeWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

} // namespace lumora
