#pragma once

#include <QPointF>
#include <QRectF>

namespace lumora {

// The half-circle dial of the warm/hard gauges in a frame (y growing downwards): its arc runs
// from the left end (fraction 0) over the top to the right end (fraction 1), and the needle
// points along it at the warm fraction.
struct SpeedometerGeometry {
    // Where the hard zone ends and the warm zone begins, as fractions along the arc; the
    // middle zone lies between.
    static constexpr double hardZoneEnd = 0.5;
    static constexpr double warmZoneStart = 0.72;
    static constexpr double strokeWidth = 8;

    // 5 points above the middle of the frame's bottom edge.
    static QPointF centre(const QRectF& frame);
    // The largest that fits the frame's width and height, with room for the stroke; not
    // above 0 in a frame too small for a dial.
    static double radius(const QRectF& frame);
    // The fraction the needle shows: limited to 0...1, not-a-number as 0.
    static double needleValue(double value);
    // The needle's outer end: 15 points short of the arc (never beyond the centre) at the
    // angle π + value × π, so 0 points left, 0.5 straight up and 1 right.
    static QPointF needleTip(const QRectF& frame, double value);
};

} // namespace lumora
