#include "wire/AnalysisProviderResult.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

namespace lumora {

AnalysisProviderResult AnalysisProviderResult::offsettingTurnIndexes(qint64 offset) const
{
    if (offset == 0)
        return *this;
    AnalysisProviderResult shifted = *this;
    shifted.annotations.clear();
    for (const BehaviorAnnotation& a : annotations)
        shifted.annotations.append(
            BehaviorAnnotation(a.turnIndex + offset, a.speaker, a.code, a.confidence, a.start, a.end));
    QList<ProcessFoulAnnotation> shiftedFouls;
    for (const ProcessFoulAnnotation& f : fouls.value_or(QList<ProcessFoulAnnotation> {}))
        shiftedFouls.append(
            ProcessFoulAnnotation(f.turnIndex + offset, f.speaker, f.foul, f.confidence, f.start, f.end));
    shifted.fouls = shiftedFouls;
    shifted.nudges = nudges.value_or(QList<QString> {}).mid(0, 2);
    return shifted;
}

QJsonObject AnalysisProviderResult::toJson() const
{
    QJsonObject json { { QStringLiteral("model"), model }, { QStringLiteral("summary"), summary },
        { QStringLiteral("annotations"), toJsonArray(annotations) },
        { QStringLiteral("inputTokens"), inputTokens }, { QStringLiteral("outputTokens"), outputTokens } };
    if (title)
        json.insert(QStringLiteral("title"), *title);
    if (fouls)
        json.insert(QStringLiteral("fouls"), toJsonArray(*fouls));
    if (stepDetected)
        json.insert(QStringLiteral("stepDetected"), stepDetected->toJson());
    if (adherenceNote)
        json.insert(QStringLiteral("adherenceNote"), *adherenceNote);
    if (nudges)
        json.insert(QStringLiteral("nudges"), QJsonArray::fromStringList(*nudges));
    if (circularity)
        json.insert(QStringLiteral("circularity"), circularity->toJson());
    if (harshStartup)
        json.insert(QStringLiteral("harshStartup"), harshStartup->toJson());
    return json;
}

std::expected<AnalysisProviderResult, JsonDecodeError> AnalysisProviderResult::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("AnalysisProviderResult"));
    AnalysisProviderResult result;
    result.model = reader.string(u"model");
    result.title = reader.optionalString(u"title");
    result.summary = reader.string(u"summary");
    result.annotations = reader.list<BehaviorAnnotation>(u"annotations");
    result.fouls = reader.optionalList<ProcessFoulAnnotation>(u"fouls");
    result.inputTokens = reader.integer(u"inputTokens");
    result.outputTokens = reader.integer(u"outputTokens");
    result.stepDetected = reader.optionalRecord<StepDetection>(u"stepDetected");
    result.adherenceNote = reader.optionalString(u"adherenceNote");
    result.nudges = reader.optionalStringList(u"nudges");
    result.circularity = reader.optionalRecord<CircularityEvidence>(u"circularity");
    result.harshStartup = reader.optionalRecord<HarshStartupEvidence>(u"harshStartup");
    return finish(reader, std::move(result));
}

} // namespace lumora
