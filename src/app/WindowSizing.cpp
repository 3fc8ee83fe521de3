#include "WindowSizing.hpp"

namespace lumora {

bool WindowSizing::isNarrow(const QStringList& arguments)
{
    return arguments.contains(QStringLiteral("--ui-narrow"), Qt::CaseSensitive);
}

QRect WindowSizing::initialFrame(const QRect& available)
{
    // The midpoint of the area (QRect::center() is one pixel short for even sizes).
    const int midX = available.x() + available.width() / 2;
    const int midY = available.y() + available.height() / 2;
    return QRect(midX - minimumWidth / 2, midY - minimumHeight / 2, minimumWidth, minimumHeight);
}

} // namespace lumora
