#include "wire/CircularityEvidence.hpp"

#include "domain/JsonObjectReader.hpp"

namespace lumora {

QJsonObject CircularityEvidence::toJson() const
{
    return { { QStringLiteral("detected"), detected }, { QStringLiteral("confidence"), confidence },
        { QStringLiteral("repeatedPoint"), repeatedPoint }, { QStringLiteral("rationale"), rationale },
        { QStringLiteral("resetSuggestion"), resetSuggestion } };
}

std::expected<CircularityEvidence, JsonDecodeError> CircularityEvidence::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("CircularityEvidence"));
    CircularityEvidence evidence;
    evidence.detected = reader.boolean(u"detected");
    evidence.confidence = reader.number(u"confidence");
    evidence.repeatedPoint = reader.string(u"repeatedPoint");
    evidence.rationale = reader.string(u"rationale");
    evidence.resetSuggestion = reader.string(u"resetSuggestion");
    return finish(reader, std::move(evidence));
}

} // namespace lumora
