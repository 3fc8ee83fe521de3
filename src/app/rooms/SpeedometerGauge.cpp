#include "SpeedometerGauge.hpp"

#include "SpeedometerGeometry.hpp"
#include "theme/ThemePalette.hpp"

#include <QPainter>
#include <QPainterPath>

namespace lumora {

namespace {

// The part of the dial's arc from one fraction to another (0 the left end, 1 the right).
QPainterPath arcPart(const QRectF& frame, double from, double to)
{
    const QPointF centre = SpeedometerGeometry::centre(frame);
    const double radius = SpeedometerGeometry::radius(frame);
    const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    // Qt's angles run anticlockwise from three o'clock: the left end is 180°, the top 90°.
    QPainterPath path;
    path.arcMoveTo(circle, 180 - 180 * from);
    path.arcTo(circle, 180 - 180 * from, -180 * (to - from));
    return path;
}

void stroke(
    QPainter& painter, const QPainterPath& path, const QColor& colour, double width, Qt::PenCapStyle cap)
{
    painter.strokePath(path, QPen(colour, width, Qt::SolidLine, cap, Qt::MiterJoin));
}

} // namespace

SpeedometerGauge::SpeedometerGauge(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

void SpeedometerGauge::setValue(double value)
{
    if (value == m_value)
        return;
    m_value = value;
    emit valueChanged();
    update();
}

double SpeedometerGauge::strokeMargin()
{
    return SpeedometerGeometry::strokeWidth / 2;
}

void SpeedometerGauge::paint(QPainter* painter)
{
    const double margin = strokeMargin();
    const QRectF frame = boundingRect().adjusted(margin, margin, -margin, -margin);
    if (SpeedometerGeometry::radius(frame) <= 0)
        return;
    painter->setRenderHint(QPainter::Antialiasing);
    constexpr double width = SpeedometerGeometry::strokeWidth;
    constexpr double hardEnd = SpeedometerGeometry::hardZoneEnd;
    constexpr double warmStart = SpeedometerGeometry::warmZoneStart;
    stroke(*painter, arcPart(frame, 0, 1), ThemePalette::withAlpha(ThemePalette::ink(), 0.09), width,
        Qt::RoundCap);
    stroke(*painter, arcPart(frame, 0, hardEnd), ThemePalette::withAlpha(ThemePalette::attention(), 0.58),
        width, Qt::FlatCap);
    stroke(*painter, arcPart(frame, hardEnd, warmStart),
        ThemePalette::withAlpha(ThemePalette::warning(), 0.58), width, Qt::FlatCap);
    stroke(*painter, arcPart(frame, warmStart, 1), ThemePalette::withAlpha(ThemePalette::positive(), 0.68),
        width, Qt::RoundCap);

    const QPointF centre = SpeedometerGeometry::centre(frame);
    QPainterPath needle(centre);
    needle.lineTo(SpeedometerGeometry::needleTip(frame, m_value));
    stroke(*painter, needle, ThemePalette::withAlpha(ThemePalette::ink(), 0.88), 2, Qt::RoundCap);

    painter->setPen(Qt::NoPen);
    painter->setBrush(ThemePalette::ink());
    painter->drawEllipse(centre, 4, 4);
}

} // namespace lumora
