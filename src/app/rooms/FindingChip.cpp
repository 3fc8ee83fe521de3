#include "FindingChip.hpp"

#include "theme/ThemeFonts.hpp"
#include "theme/ThemePalette.hpp"

#include <QFontMetricsF>
#include <QPainter>

namespace lumora {

namespace {

// Around the words: 8 px on each side, 4 above and below.
constexpr qreal horizontalPadding = 16;
constexpr qreal verticalPadding = 8;

} // namespace

FindingChip::FindingChip(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    measure();
}

void FindingChip::setLabel(const QString& label)
{
    if (label == m_label)
        return;
    m_label = label;
    m_text = ThemeFonts::upperCased(label);
    measure();
    emit labelChanged();
    update();
}

void FindingChip::setTint(const QColor& tint)
{
    if (tint == m_tint)
        return;
    m_tint = tint;
    emit tintChanged();
    update();
}

void FindingChip::setDashed(bool dashed)
{
    if (dashed == m_dashed)
        return;
    m_dashed = dashed;
    emit dashedChanged();
    update();
}

QPainterPath FindingChip::outline(QSizeF size)
{
    QPainterPath path;
    const QRectF inside = QRectF(QPointF(), size).adjusted(0.5, 0.5, -0.5, -0.5);
    if (inside.isEmpty())
        return path;
    const qreal radius = inside.height() / 2;
    path.addRoundedRect(inside, radius, radius);
    return path;
}

void FindingChip::paint(QPainter* painter)
{
    const QPainterPath path = outline(size());
    if (path.isEmpty())
        return;
    painter->setRenderHint(QPainter::Antialiasing);
    // A foul's capsule is fainter inside and stronger at its dashed edge.
    QPen pen(ThemePalette::withAlpha(m_tint, m_dashed ? 0.45 : 0.28), 1);
    if (m_dashed)
        pen.setDashPattern({ 3, 2 });
    painter->setPen(pen);
    painter->setBrush(ThemePalette::withAlpha(m_tint, m_dashed ? 0.05 : 0.08));
    painter->drawPath(path);
    painter->setFont(ThemeFonts::chip());
    painter->setPen(m_tint);
    painter->drawText(boundingRect(), Qt::AlignCenter, m_text);
}

void FindingChip::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry)
{
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        update();
}

void FindingChip::measure()
{
    const QFontMetricsF metrics(ThemeFonts::chip());
    setImplicitSize(
        metrics.horizontalAdvance(m_text) + horizontalPadding, metrics.height() + verticalPadding);
}

} // namespace lumora
