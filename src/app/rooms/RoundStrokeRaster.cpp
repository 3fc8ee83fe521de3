#include "RoundStrokeRaster.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace lumora {

namespace {

// The rows a stroke covers on one vertical line: empty while `top` is above `bottom`.
struct Span {
    float top = std::numeric_limits<float>::infinity();
    float bottom = -std::numeric_limits<float>::infinity();

    void cover(double from, double to)
    {
        top = std::min(top, static_cast<float>(from));
        bottom = std::max(bottom, static_cast<float>(to));
    }
    [[nodiscard]] bool isEmpty() const { return !(bottom > top); }
};

// Adds to `span` where the vertical line at `x` crosses the segment a-b stroked `radius` wide
// on each side with round ends: the rectangle along the segment and a disc at each end.
void coverSegment(Span& span, QPointF a, QPointF b, QPointF normal, double radius, double x)
{
    for (const QPointF& end : { a, b }) {
        const double dx = x - end.x();
        const double reach = radius * radius - dx * dx;
        if (reach >= 0)
            span.cover(end.y() - std::sqrt(reach), end.y() + std::sqrt(reach));
    }
    const QPointF corners[4] { a + normal, b + normal, b - normal, a - normal };
    for (int index = 0; index < 4; ++index) {
        const QPointF& from = corners[index];
        const QPointF& to = corners[(index + 1) % 4];
        if (from.x() == to.x())
            continue;
        const double t = (x - from.x()) / (to.x() - from.x());
        if (t >= 0 && t <= 1) {
            const double y = from.y() + t * (to.y() - from.y());
            span.cover(y, y);
        }
    }
}

// The gradient's colour at x, padded before its start and after its end.
QRgb colourAt(double x, double from, double to, const QGradientStops& stops)
{
    const double t = to > from ? std::clamp((x - from) / (to - from), 0.0, 1.0) : 0.0;
    auto after = std::find_if(
        stops.cbegin(), stops.cend(), [t](const QGradientStop& stop) { return stop.first >= t; });
    if (after == stops.cbegin() || after == stops.cend())
        return (after == stops.cend() ? stops.constLast() : stops.constFirst()).second.rgb();
    const QGradientStop& before = *(after - 1);
    const double u = (t - before.first) / (after->first - before.first);
    auto mix = [u](int a, int b) { return static_cast<int>(std::lround(a + u * (b - a))); };
    const QColor& a = before.second;
    const QColor& b = after->second;
    return qRgb(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

} // namespace

QImage RoundStrokeRaster::render(
    const QPolygonF& line, double width, QSize size, double from, double to, const QGradientStops& stops)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const int columns = size.width();
    const int rows = size.height();
    if (columns <= 0 || rows <= 0 || stops.isEmpty() || !(width > 0))
        return image;

    // Where the line crosses each vertical sample line: segment by segment over the samples
    // its stroke reaches, so that a long line of short steps costs what it covers.
    const int samples = columns * samplesPerColumn;
    const double radius = width / 2;
    std::vector<Span> spans(static_cast<std::size_t>(samples));
    auto sampleAt = [](int sample) { return (sample + 0.5) / samplesPerColumn; };
    for (qsizetype index = 1; index < line.size(); ++index) {
        const QPointF a = line[index - 1];
        const QPointF b = line[index];
        const double length = std::hypot(b.x() - a.x(), b.y() - a.y());
        const QPointF normal
            = length > 0 ? QPointF(a.y() - b.y(), b.x() - a.x()) * (radius / length) : QPointF();
        // The samples within the stroke's reach, limited to the image before turning to int.
        const double first = std::ceil((std::min(a.x(), b.x()) - radius) * samplesPerColumn - 0.5);
        const double last = std::floor((std::max(a.x(), b.x()) + radius) * samplesPerColumn - 0.5);
        if (last < 0 || first > samples - 1)
            continue;
        const int end = static_cast<int>(std::min(last, samples - 1.0));
        for (int sample = static_cast<int>(std::max(first, 0.0)); sample <= end; ++sample)
            coverSegment(spans[static_cast<std::size_t>(sample)], a, b, normal, radius, sampleAt(sample));
    }

    // Each column's coverage of a row is the share of its samples' spans that lies in that row.
    std::vector<float> coverage(static_cast<std::size_t>(rows));
    for (int column = 0; column < columns; ++column) {
        Span columnSpan;
        for (int sample = 0; sample < samplesPerColumn; ++sample) {
            const Span& span = spans[static_cast<std::size_t>(column * samplesPerColumn + sample)];
            if (!span.isEmpty())
                columnSpan.cover(span.top, span.bottom);
        }
        if (columnSpan.isEmpty() || columnSpan.bottom <= 0 || columnSpan.top >= rows)
            continue;
        const int top = std::max(0, static_cast<int>(columnSpan.top));
        const int bottom = std::min(rows - 1, static_cast<int>(std::ceil(columnSpan.bottom)) - 1);
        std::fill(coverage.begin() + top, coverage.begin() + bottom + 1, 0.0f);
        for (int sample = 0; sample < samplesPerColumn; ++sample) {
            const Span& span = spans[static_cast<std::size_t>(column * samplesPerColumn + sample)];
            if (span.isEmpty())
                continue;
            const float spanTop = std::max(span.top, 0.0f);
            const float spanBottom = std::min(span.bottom, static_cast<float>(rows));
            for (int row = static_cast<int>(spanTop); row < spanBottom && row <= bottom; ++row) {
                const float inside
                    = std::min(spanBottom, row + 1.0f) - std::max(spanTop, static_cast<float>(row));
                coverage[static_cast<std::size_t>(row)] += inside / samplesPerColumn;
            }
        }
        const QRgb colour = colourAt(column + 0.5, from, to, stops);
        for (int row = top; row <= bottom; ++row) {
            const int alpha = static_cast<int>(
                std::lround(std::min(coverage[static_cast<std::size_t>(row)], 1.0f) * 255));
            if (alpha > 0) {
                reinterpret_cast<QRgb*>(image.scanLine(row))[column]
                    = qPremultiply(qRgba(qRed(colour), qGreen(colour), qBlue(colour), alpha));
            }
        }
    }
    return image;
}

} // namespace lumora
