#include "domain/ProcessFoulAnnotation.hpp"

#include "domain/Confidence.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/Seat.hpp"

namespace lumora {

ProcessFoulAnnotation::ProcessFoulAnnotation(
    qint64 turnIndex, qint64 speaker, ProcessFoul foul, double confidence, double start, double end)
    : turnIndex(turnIndex)
    , speaker(seatOf(speaker))
    , foul(foul)
    , confidence(clampedConfidence(confidence))
    , start(start)
    , end(end)
{
}

QJsonObject ProcessFoulAnnotation::toJson() const
{
    return { { QStringLiteral("turnIndex"), turnIndex }, { QStringLiteral("speaker"), speaker },
        { QStringLiteral("foul"), toString(foul) }, { QStringLiteral("confidence"), confidence },
        { QStringLiteral("start"), start }, { QStringLiteral("end"), end } };
}

std::expected<ProcessFoulAnnotation, JsonDecodeError> ProcessFoulAnnotation::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ProcessFoulAnnotation"));
    ProcessFoulAnnotation annotation;
    annotation.turnIndex = reader.integer(u"turnIndex");
    annotation.speaker = reader.integer(u"speaker");
    annotation.foul = reader.enumeration<ProcessFoul>(u"foul");
    annotation.confidence = reader.number(u"confidence");
    annotation.start = reader.number(u"start");
    annotation.end = reader.number(u"end");
    return finish(reader, annotation);
}

} // namespace lumora
