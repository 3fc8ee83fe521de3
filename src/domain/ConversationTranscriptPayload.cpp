#include "domain/ConversationTranscriptPayload.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

namespace lumora {

QJsonObject ConversationTranscriptPayload::toJson() const
{
    QJsonObject json { { QStringLiteral("schema"), schema },
        { QStringLiteral("segments"), toJsonArray(segments) } };
    if (truncated)
        json.insert(QStringLiteral("truncated"), *truncated);
    if (live)
        json.insert(QStringLiteral("live"), *live);
    return json;
}

std::expected<ConversationTranscriptPayload, JsonDecodeError> ConversationTranscriptPayload::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ConversationTranscriptPayload"));
    ConversationTranscriptPayload payload;
    payload.schema = reader.integer(u"schema");
    payload.segments = reader.list<SpeakerTurn>(u"segments");
    payload.truncated = reader.optionalBoolean(u"truncated");
    payload.live = reader.optionalBoolean(u"live");
    return finish(reader, std::move(payload));
}

} // namespace lumora
