#include "domain/CheckinSection.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

namespace lumora {

QJsonObject CheckinSection::toJson() const
{
    return { { QStringLiteral("id"), id }, { QStringLiteral("title"), title },
        { QStringLiteral("prompts"), toJsonArray(prompts) },
        { QStringLiteral("suggested_minutes"), suggestedMinutes } };
}

std::expected<CheckinSection, JsonDecodeError> CheckinSection::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("CheckinSection"));
    CheckinSection section;
    section.id = reader.string(u"id");
    section.title = reader.string(u"title");
    section.prompts = reader.list<CheckinPrompt>(u"prompts");
    section.suggestedMinutes = reader.integer(u"suggested_minutes");
    return finish(reader, std::move(section));
}

} // namespace lumora
