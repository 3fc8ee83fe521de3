#include "domain/DerivedSessionResult.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

namespace lumora {

QJsonObject DerivedSessionResult::toJson() const
{
    QJsonObject json;
    json.insert("id", uuidText(id, UuidCase::upper));
    if (title)
        json.insert("title", *title);
    json.insert("completedAt", isoDateText(completedAt));
    json.insert("duration", duration);
    json.insert("mode", toString(mode));
    json.insert("stats", toJsonArray(stats));
    json.insert("annotations", toJsonArray(annotations));
    if (fouls)
        json.insert("fouls", toJsonArray(*fouls));
    if (harshStartupDetected)
        json.insert("harshStartupDetected", *harshStartupDetected);
    json.insert("summary", summary);
    if (transcript)
        json.insert("transcript", toJsonArray(*transcript));
    return json;
}

std::expected<DerivedSessionResult, JsonDecodeError> DerivedSessionResult::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("DerivedSessionResult"));
    DerivedSessionResult result;
    result.id = reader.uuid(u"id");
    result.title = reader.optionalString(u"title");
    result.completedAt = reader.date(u"completedAt");
    result.duration = reader.number(u"duration");
    result.mode
        = reader.optionalEnumeration<ConversationMode>(u"mode").value_or(ConversationMode::conversation);
    result.stats = reader.list<SpeakerStats>(u"stats");
    result.annotations = reader.list<BehaviorAnnotation>(u"annotations");
    result.fouls = reader.optionalList<ProcessFoulAnnotation>(u"fouls");
    result.harshStartupDetected = reader.optionalBoolean(u"harshStartupDetected");
    result.summary = reader.string(u"summary");
    result.transcript = reader.optionalList<SpeakerTurn>(u"transcript");
    return finish(reader, std::move(result));
}

} // namespace lumora
