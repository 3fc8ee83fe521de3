#include "wire/StepDetection.hpp"

#include "domain/JsonObjectReader.hpp"

namespace lumora {

QJsonObject StepDetection::toJson() const
{
    return { { QStringLiteral("index"), index }, { QStringLiteral("confidence"), confidence } };
}

std::expected<StepDetection, JsonDecodeError> StepDetection::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("StepDetection"));
    StepDetection step;
    step.index = reader.integer(u"index");
    step.confidence = reader.number(u"confidence");
    return finish(reader, step);
}

} // namespace lumora
