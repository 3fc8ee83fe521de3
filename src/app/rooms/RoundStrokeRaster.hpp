#pragma once

#include <QBrush>
#include <QImage>
#include <QPolygonF>

namespace lumora {

// A polyline stroked with round caps and round joins, antialiased and coloured along x by a
// horizontal gradient: the live emotional arc's line. QPainter fills a wide stroke through a
// general path filler whose cost grows with every row each short step crosses (an arc of a
// thousand moments took about 50 ms a frame, and the live arc is drawn again every second);
// this covers each pixel column with the union of the round-ended segments that reach it,
// sampled at four places across the column, in time that follows the pixels it covers.
struct RoundStrokeRaster {
    static constexpr int samplesPerColumn = 4;

    // An image of `size` pixels, transparent where the line is not; `line` and `width` are in
    // pixels of that image, and the gradient runs from x = `from` to x = `to`, padded beyond.
    static QImage render(
        const QPolygonF& line, double width, QSize size, double from, double to, const QGradientStops& stops);
};

} // namespace lumora
