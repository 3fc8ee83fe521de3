#include "DisplayFormats.hpp"

#include "domain/CheckinWeek.hpp"

#include <QTimeZone>
#include <cmath>

namespace lumora {

QString DisplayFormats::clock(double seconds)
{
    // The largest whole number a double holds exactly: anything above would not convert
    // defined, and its minutes would be meaningless anyway.
    constexpr double largest = 9007199254740991.0;
    if (!std::isfinite(seconds) || seconds <= 0)
        return QStringLiteral("0:00");
    const auto whole = static_cast<qint64>(std::min(seconds, largest));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

qint64 DisplayFormats::rowID(const ConversationTurn& turn)
{
    return turn.pieces.isEmpty() ? -1 : turn.pieces.constFirst().turnIndex;
}

std::optional<QString> DisplayFormats::weekLabel(QStringView week, const QLocale& locale)
{
    const std::optional<QDateTime> monday = CheckinWeek::start(week, QTimeZone::utc());
    if (!monday)
        return std::nullopt;
    return QStringLiteral("Week of ") + locale.toString(monday->toUTC().date(), QStringLiteral("MMM d"));
}

} // namespace lumora
