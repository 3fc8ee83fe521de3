#include "wire/ConversationNudge.hpp"

#include "domain/JsonObjectReader.hpp"

namespace lumora {

QJsonObject ConversationNudge::toJson() const
{
    return { { QStringLiteral("title"), title }, { QStringLiteral("guidance"), guidance },
        { QStringLiteral("suggestedWords"), suggestedWords } };
}

std::expected<ConversationNudge, JsonDecodeError> ConversationNudge::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ConversationNudge"));
    ConversationNudge nudge;
    nudge.title = reader.string(u"title");
    nudge.guidance = reader.string(u"guidance");
    nudge.suggestedWords = reader.string(u"suggestedWords");
    return finish(reader, std::move(nudge));
}

} // namespace lumora
