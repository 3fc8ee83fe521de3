#include "domain/BehaviorAnnotation.hpp"

#include "domain/Confidence.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/Seat.hpp"

namespace lumora {

BehaviorAnnotation::BehaviorAnnotation(
    qint64 turnIndex, qint64 speaker, BehaviorCode code, double confidence, double start, double end)
    : turnIndex(turnIndex)
    , speaker(signedSpeakerRemainder(speaker))
    , code(code)
    , confidence(clampedConfidence(confidence))
    , start(start)
    , end(end)
{
}

QJsonObject BehaviorAnnotation::toJson() const
{
    return { { QStringLiteral("turnIndex"), turnIndex }, { QStringLiteral("speaker"), speaker },
        { QStringLiteral("code"), toString(code) }, { QStringLiteral("confidence"), confidence },
        { QStringLiteral("start"), start }, { QStringLiteral("end"), end } };
}

std::expected<BehaviorAnnotation, JsonDecodeError> BehaviorAnnotation::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("BehaviorAnnotation"));
    BehaviorAnnotation annotation;
    annotation.turnIndex = reader.integer(u"turnIndex");
    annotation.speaker = reader.integer(u"speaker");
    annotation.code = reader.enumeration<BehaviorCode>(u"code");
    annotation.confidence = reader.number(u"confidence");
    annotation.start = reader.number(u"start");
    annotation.end = reader.number(u"end");
    return finish(reader, annotation);
}

} // namespace lumora
