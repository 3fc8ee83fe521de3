#include "SpeedometerGeometry.hpp"

#include "domain/Confidence.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace lumora {

QPointF SpeedometerGeometry::centre(const QRectF& frame)
{
    return { frame.center().x(), frame.bottom() - 5 };
}

double SpeedometerGeometry::radius(const QRectF& frame)
{
    return std::max(0.0, std::min(frame.width() * 0.5 - 6, frame.height() - 8));
}

double SpeedometerGeometry::needleValue(double value)
{
    return clampedConfidence(value);
}

QPointF SpeedometerGeometry::needleTip(const QRectF& frame, double value)
{
    const double angle = std::numbers::pi * (1 + needleValue(value));
    const double length = std::max(0.0, radius(frame) - 15);
    return centre(frame) + QPointF(length * std::cos(angle), length * std::sin(angle));
}

} // namespace lumora
