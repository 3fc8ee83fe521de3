#include "domain/ConversationAnalysisPayload.hpp"

#include "domain/DerivedSessionResult.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

namespace lumora {

ConversationAnalysisPayload ConversationAnalysisPayload::fromResult(const DerivedSessionResult& result)
{
    return { .summary = result.summary,
        .stats = result.stats,
        .annotations = result.annotations,
        .fouls = result.fouls.value_or(QList<ProcessFoulAnnotation> {}),
        .harshStartupDetected = result.harshStartupDetected };
}

ConversationAnalysisPayload ConversationAnalysisPayload::withoutAnnotations() const
{
    ConversationAnalysisPayload copy;
    copy.summary = summary;
    copy.stats = stats;
    copy.harshStartupDetected = harshStartupDetected;
    return copy;
}

QJsonObject ConversationAnalysisPayload::toJson() const
{
    QJsonObject json { { QStringLiteral("schema"), schema }, { QStringLiteral("summary"), summary },
        { QStringLiteral("stats"), toJsonArray(stats) },
        { QStringLiteral("annotations"), toJsonArray(annotations) },
        { QStringLiteral("fouls"), toJsonArray(fouls) } };
    if (harshStartupDetected)
        json.insert(QStringLiteral("harsh_startup_detected"), *harshStartupDetected);
    return json;
}

std::expected<ConversationAnalysisPayload, JsonDecodeError> ConversationAnalysisPayload::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ConversationAnalysisPayload"));
    ConversationAnalysisPayload payload;
    payload.schema = reader.integer(u"schema");
    payload.summary = reader.string(u"summary");
    payload.stats = reader.list<SpeakerStats>(u"stats");
    payload.annotations = reader.list<BehaviorAnnotation>(u"annotations");
    payload.fouls = reader.list<ProcessFoulAnnotation>(u"fouls");
    payload.harshStartupDetected = reader.optionalBoolean(u"harsh_startup_detected");
    return finish(reader, std::move(payload));
}

} // namespace lumora
