#include "wire/HarshStartupEvidence.hpp"

#include "domain/JsonObjectReader.hpp"

namespace lumora {

QJsonObject HarshStartupEvidence::toJson() const
{
    return { { QStringLiteral("detected"), detected }, { QStringLiteral("confidence"), confidence },
        { QStringLiteral("note"), note } };
}

std::expected<HarshStartupEvidence, JsonDecodeError> HarshStartupEvidence::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("HarshStartupEvidence"));
    HarshStartupEvidence evidence;
    evidence.detected = reader.boolean(u"detected");
    evidence.confidence = reader.number(u"confidence");
    evidence.note = reader.string(u"note");
    return finish(reader, std::move(evidence));
}

} // namespace lumora
