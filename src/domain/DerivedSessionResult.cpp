#include "domain/DerivedSessionResult.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

namespace lumora {

QJsonObject DerivedSessionResult::toJson() const
{
    QJsonObject json;
    json.insert(QStringLiteral("id"), uuidText(id, UuidCase::upper));
    if (title)
        json.insert(QStringLiteral("title"), *title);
    json.insert(QStringLiteral("completedAt"), isoDateText(completedAt));
    json.insert(QStringLiteral("duration"), duration);
    json.insert(QStringLiteral("mode"), toString(mode));
    json.insert(QStringLiteral("stats"), toJsonArray(stats));
    json.insert(QStringLiteral("annotations"), toJsonArray(annotations));
    if (fouls)
        json.insert(QStringLiteral("fouls"), toJsonArray(*fouls));
    if (harshStartupDetected)
        json.insert(QStringLiteral("harshStartupDetected"), *harshStartupDetected);
    json.insert(QStringLiteral("summary"), summary);
    if (transcript)
        json.insert(QStringLiteral("transcript"), toJsonArray(*transcript));
    if (fromLiveTranscript)
        json.insert(QStringLiteral("fromLiveTranscript"), true);
    if (accountID)
        json.insert(QStringLiteral("accountID"), uuidText(*accountID, UuidCase::upper));
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
    result.fromLiveTranscript = reader.optionalBoolean(u"fromLiveTranscript").value_or(false);
    result.accountID = reader.optionalNonNilUuid(u"accountID");
    return finish(reader, std::move(result));
}

} // namespace lumora
