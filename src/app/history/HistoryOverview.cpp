#include "HistoryOverview.hpp"

#include "display/DisplayFormats.hpp"

#include <cmath>
#include <limits>

namespace lumora {

HistoryOverview HistoryOverview::of(const QList<ConversationHistoryEntry>& entries)
{
    HistoryOverview overview;
    qint64 visible = 0;
    double seconds = 0;
    qint64 turns = 0;
    for (const ConversationHistoryEntry& entry : entries) {
        if (entry.isHidden) {
            ++overview.hiddenCount;
            continue;
        }
        ++visible;
        if (std::isfinite(entry.duration)) {
            seconds += entry.duration;
            if (std::isinf(seconds))
                seconds = std::copysign(std::numeric_limits<double>::max(), seconds);
        }
        if (entry.turns && __builtin_add_overflow(turns, *entry.turns, &turns))
            turns
                = *entry.turns > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    }
    if (visible > 0)
        overview.state = Entries;
    else if (overview.hiddenCount > 0)
        overview.state = AllHidden;
    overview.conversations = QString::number(visible);
    overview.conversationsLabel
        = visible == 1 ? QStringLiteral("conversation") : QStringLiteral("conversations");
    overview.timeTogether = DisplayFormats::clock(seconds);
    overview.turnsHeard = QString::number(turns);
    return overview;
}

} // namespace lumora
