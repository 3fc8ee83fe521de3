#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <algorithm>
#include <cmath>

namespace lumora::testing {

// WCAG's relative luminance of an opaque colour and the contrast ratio of two.
inline double luminance(const QColor& colour)
{
    const auto channel = [](double value) {
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF())
        + 0.0722 * channel(colour.blueF());
}
inline double contrast(const QColor& a, const QColor& b)
{
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}
// `top` at `alpha` laid over the opaque `under`.
inline QColor over(const QColor& top, double alpha, const QColor& under)
{
    const auto mix = [&](double t, double u) { return t * alpha + u * (1 - alpha); };
    return QColor::fromRgbF(static_cast<float>(mix(top.redF(), under.redF())),
        static_cast<float>(mix(top.greenF(), under.greenF())),
        static_cast<float>(mix(top.blueF(), under.blueF())));
}

// The darkest and the lightest pixel drawn in `area`: for a text, its strokes and the surface
// under it.
struct PixelRange {
    QColor darkest;
    QColor lightest;
    [[nodiscard]] double ratio() const { return contrast(darkest, lightest); }
};
inline PixelRange pixelRange(const QImage& image, const QRect& area)
{
    PixelRange range { Qt::white, Qt::black };
    double darkest = 2;
    double lightest = -1;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            const double value = luminance(pixel);
            if (value < darkest) {
                darkest = value;
                range.darkest = pixel;
            }
            if (value > lightest) {
                lightest = value;
                range.lightest = pixel;
            }
        }
    }
    return range;
}

} // namespace lumora::testing
