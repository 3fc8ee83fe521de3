#include "domain/CheckinPrompt.hpp"

#include "domain/JsonObjectReader.hpp"

namespace lumora {

QJsonObject CheckinPrompt::toJson() const
{
    QJsonObject json { { QStringLiteral("text"), text } };
    if (source)
        json.insert(QStringLiteral("source"), *source);
    return json;
}

std::expected<CheckinPrompt, JsonDecodeError> CheckinPrompt::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("CheckinPrompt"));
    CheckinPrompt prompt;
    prompt.text = reader.string(u"text");
    prompt.source = reader.optionalString(u"source");
    return finish(reader, std::move(prompt));
}

} // namespace lumora
