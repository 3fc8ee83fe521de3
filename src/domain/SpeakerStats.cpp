#include "domain/SpeakerStats.hpp"

#include "domain/JsonObjectReader.hpp"

#include <limits>

namespace lumora {

qint64 SpeakerStats::totalTurns(const QList<SpeakerStats>& stats)
{
    qint64 total = 0;
    for (const SpeakerStats& seat : stats) {
        if (__builtin_add_overflow(total, seat.turns, &total))
            return seat.turns > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    }
    return total;
}

QJsonObject SpeakerStats::toJson() const
{
    return { { QStringLiteral("speaker"), speaker }, { QStringLiteral("talkTime"), talkTime },
        { QStringLiteral("turns"), turns }, { QStringLiteral("longestTurn"), longestTurn },
        { QStringLiteral("share"), share } };
}

std::expected<SpeakerStats, JsonDecodeError> SpeakerStats::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("SpeakerStats"));
    SpeakerStats stats;
    stats.speaker = reader.integer(u"speaker");
    stats.talkTime = reader.number(u"talkTime");
    stats.turns = reader.integer(u"turns");
    stats.longestTurn = reader.number(u"longestTurn");
    stats.share = reader.number(u"share");
    return finish(reader, stats);
}

} // namespace lumora
