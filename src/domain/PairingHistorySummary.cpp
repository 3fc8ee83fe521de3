#include "domain/PairingHistorySummary.hpp"

#include "domain/JsonObjectReader.hpp"

namespace lumora {

std::expected<PairingHistorySummary, JsonDecodeError> PairingHistorySummary::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("PairingHistorySummary"));
    PairingHistorySummary summary;
    summary.conversationCount = reader.integer(u"conversation_count");
    summary.earliestStartedAt = reader.optionalInteger(u"earliest_started_at");
    summary.latestStartedAt = reader.optionalInteger(u"latest_started_at");
    return finish(reader, std::move(summary));
}

} // namespace lumora
