#include "RoomFormats.hpp"

#include "display/DisplayFormats.hpp"
#include "domain/Confidence.hpp"
#include "theme/ThemePalette.hpp"

#include <QLocale>

namespace lumora {

QString RoomFormats::clock(double seconds)
{
    return DisplayFormats::clock(seconds);
}

QString RoomFormats::count(qint64 value)
{
    return QLocale().toString(value);
}

int RoomFormats::percent(double fraction)
{
    return static_cast<int>(clampedConfidence(fraction) * 100);
}

QColor RoomFormats::seatColor(int displaySide)
{
    return displaySide == 0 ? ThemePalette::positive() : ThemePalette::information();
}

} // namespace lumora
