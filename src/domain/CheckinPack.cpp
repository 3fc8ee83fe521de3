#include "domain/CheckinPack.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

#include <algorithm>
#include <limits>

namespace lumora {

bool CheckinPack::isUsable() const
{
    return sections.size() == expectedSectionCount
        && std::ranges::all_of(sections, [](const CheckinSection& section) {
               return !section.prompts.isEmpty()
                   && std::ranges::none_of(
                       section.prompts, [](const CheckinPrompt& prompt) { return prompt.text.isEmpty(); });
           });
}

qint64 CheckinPack::suggestedMinutes() const
{
    // Wide enough for any number of 64-bit values; the total is then held to 64 bits.
    __extension__ using Wide = __int128;
    Wide total = 0;
    for (const CheckinSection& section : sections)
        total += section.suggestedMinutes;
    return static_cast<qint64>(
        std::clamp<Wide>(total, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()));
}

QJsonObject CheckinPack::toJson() const
{
    QJsonObject json { { QStringLiteral("week"), week }, { QStringLiteral("source"), toString(source) } };
    if (note)
        json.insert(QStringLiteral("note"), *note);
    json.insert(QStringLiteral("sections"), toJsonArray(sections));
    json.insert(QStringLiteral("generated_at"), generatedAt);
    json.insert(QStringLiteral("question_id"), questionID);
    return json;
}

std::expected<CheckinPack, JsonDecodeError> CheckinPack::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("CheckinPack"));
    CheckinPack pack;
    pack.week = reader.string(u"week");
    pack.source = reader.string(u"source") == toString(CheckinPackSource::model)
        ? CheckinPackSource::model
        : CheckinPackSource::fallback;
    pack.generatedAt = reader.optionalInteger(u"generated_at").value_or(0);
    pack.note = reader.optionalString(u"note");
    pack.questionID = reader.optionalString(u"question_id").value_or(QString());
    pack.sections = reader.list<CheckinSection>(u"sections");
    return finish(reader, std::move(pack));
}

} // namespace lumora
