#include "EmotionalArcChart.hpp"

#include "RoundStrokeRaster.hpp"
#include "domain/ConversationPresentation.hpp"
#include "theme/ThemePalette.hpp"

#include <QLinearGradient>
#include <QPainter>
#include <cmath>

namespace lumora {

namespace {

struct StyleStrokes {
    double lineWidth;
    Qt::PenCapStyle cap;
    Qt::PenJoinStyle join;
    double zeroDash;
};

StyleStrokes strokesOf(EmotionalArcChart::Style style)
{
    if (style == EmotionalArcChart::Review)
        return { 2.5, Qt::FlatCap, Qt::MiterJoin, 4 };
    return { 2.2, Qt::RoundCap, Qt::RoundJoin, 3 };
}

} // namespace

EmotionalArcChart::EmotionalArcChart(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    recompute();
}

void EmotionalArcChart::setMoments(const RoomMoments& moments)
{
    if (moments == m_moments)
        return;
    m_moments = moments;
    emit momentsChanged();
    recompute();
}

void EmotionalArcChart::setDuration(double duration)
{
    // Not-a-number never equals itself: compare so that it does not repaint for nothing.
    if (duration == m_duration || (std::isnan(duration) && std::isnan(m_duration)))
        return;
    m_duration = duration;
    emit durationChanged();
    recompute();
}

void EmotionalArcChart::setStyle(Style style)
{
    if (style == m_style)
        return;
    m_style = style;
    emit styleChanged();
    update();
}

double EmotionalArcChart::score() const
{
    return m_points.isEmpty() ? 0 : m_points.constLast().score;
}

void EmotionalArcChart::recompute()
{
    m_points = ConversationPresentation::arc(m_moments.annotations, m_moments.fouls, m_duration);
    emit pointsChanged();
    update();
}

double EmotionalArcChart::span(double duration)
{
    return std::isfinite(duration) && duration > 1 ? duration : 1;
}

double EmotionalArcChart::y(Style style, double score, double height)
{
    if (style == Review)
        return height * 0.5 + (score * -0.25 * height) * 0.4;
    return height * 0.5 - (score * 0.25) * (height * 0.42);
}

QPolygonF EmotionalArcChart::line(
    const QList<EmotionalArcPoint>& points, double duration, QSizeF size, Style style)
{
    const double seconds = span(duration);
    QPolygonF line;
    line.reserve(points.size());
    for (const EmotionalArcPoint& point : points) {
        const QPointF at(point.time * size.width() / seconds, y(style, point.score, size.height()));
        if (std::isfinite(at.x()) && std::isfinite(at.y()))
            line.append(at);
    }
    return line;
}

QList<QPolygonF> EmotionalArcChart::partsBetween(const QPolygonF& line, double left, double right)
{
    QList<QPolygonF> parts;
    for (qsizetype index = 1; index < line.size(); ++index) {
        QPointF from = line[index - 1];
        QPointF to = line[index];
        if (std::max(from.x(), to.x()) < left || std::min(from.x(), to.x()) > right)
            continue;
        // The point of the segment at x, for a segment that crosses it.
        auto at = [&](double x) {
            const double t = (x - from.x()) / (to.x() - from.x());
            return QPointF(x, from.y() + t * (to.y() - from.y()));
        };
        const QPointF start = from.x() < left ? at(left) : from.x() > right ? at(right) : from;
        const QPointF end = to.x() < left ? at(left) : to.x() > right ? at(right) : to;
        if (parts.isEmpty() || parts.constLast().constLast() != start)
            parts.append(QPolygonF { start });
        parts.last().append(end);
    }
    return parts;
}

QString EmotionalArcChart::scoreText(double score)
{
    return QString::asprintf("%+.1f", score);
}

QString EmotionalArcChart::description(double score)
{
    return QStringLiteral("Emotional arc, current score ") + scoreText(score);
}

void EmotionalArcChart::paint(QPainter* painter)
{
    const double margin = strokeMargin();
    const QRectF area = boundingRect().adjusted(margin, margin, -margin, -margin);
    if (area.isEmpty())
        return;
    painter->setRenderHint(QPainter::Antialiasing);
    painter->translate(area.topLeft());
    const StyleStrokes strokes = strokesOf(m_style);

    QPen zero(ThemePalette::withAlpha(ThemePalette::ink(), 0.1), 1, Qt::CustomDashLine, Qt::FlatCap);
    // Dashes are counted in line widths; the zero line is 1 wide.
    zero.setDashPattern({ strokes.zeroDash, 5 });
    painter->setPen(zero);
    painter->drawLine(QPointF(0, area.height() / 2), QPointF(area.width(), area.height() / 2));

    // Hard through the middle to warm, from the chart's left edge to its right one.
    const QGradientStops colours { { 0, ThemePalette::attention() }, { 0.5, ThemePalette::warning() },
        { 1, ThemePalette::positive() } };
    const QPolygonF points = line(m_points, m_duration, area.size(), m_style);
    if (m_style == Live) {
        // Drawn column by column at the painter's own resolution, then laid over the chart.
        const double scale = painter->deviceTransform().m11();
        const QRectF bounds(-area.topLeft(), boundingRect().size());
        const QSize pixels = (bounds.size() * scale).toSize();
        QPolygonF inPixels;
        inPixels.reserve(points.size());
        for (const QPointF& point : points)
            inPixels.append((point - bounds.topLeft()) * scale);
        const double left = -bounds.left() * scale;
        painter->drawImage(bounds,
            RoundStrokeRaster::render(
                inPixels, strokes.lineWidth * scale, pixels, left, left + area.width() * scale, colours));
        return;
    }
    QLinearGradient gradient(0, 0, area.width(), 0);
    gradient.setStops(colours);
    QPen arc(QBrush(gradient), strokes.lineWidth, Qt::SolidLine, strokes.cap, strokes.join);
    arc.setMiterLimit(10);
    painter->setPen(arc);
    painter->setBrush(Qt::NoBrush);
    for (const QPolygonF& part : partsBetween(points, -margin, area.width() + margin))
        painter->drawPolyline(part);
}

} // namespace lumora
