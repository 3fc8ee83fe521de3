#include "wire/AnalysisProviderPayload.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

namespace lumora {

QJsonObject AnalysisProviderPayload::toJson() const
{
    QJsonObject json { { QStringLiteral("pass"), toString(pass) },
        { QStringLiteral("rubricVersion"), rubricVersion }, { QStringLiteral("turns"), toJsonArray(turns) } };
    if (currentStep)
        json.insert(QStringLiteral("currentStep"), *currentStep);
    return json;
}

std::expected<AnalysisProviderPayload, JsonDecodeError> AnalysisProviderPayload::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("AnalysisProviderPayload"));
    AnalysisProviderPayload payload;
    payload.pass = reader.enumeration<AnalysisPass>(u"pass");
    payload.rubricVersion = reader.string(u"rubricVersion");
    payload.turns = reader.list<SpeakerTurn>(u"turns");
    payload.currentStep = reader.optionalInteger(u"currentStep");
    return finish(reader, std::move(payload));
}

} // namespace lumora
