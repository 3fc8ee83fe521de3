#include "providers/DeepgramWord.hpp"

#include "domain/JsonObjectReader.hpp"

#include <QJsonArray>

namespace lumora {

namespace {

// An alternative's words, read as a record so that the list reader checks each word.
struct Alternative {
    QList<DeepgramWord> words;

    static std::expected<Alternative, JsonDecodeError> fromJson(const QJsonValue& value)
    {
        JsonObjectReader reader(value, QStringLiteral("alternative"));
        Alternative alternative;
        alternative.words = reader.list<DeepgramWord>(u"words");
        return finish(reader, std::move(alternative));
    }
};

} // namespace

std::expected<DeepgramWord, JsonDecodeError> DeepgramWord::fromJson(const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("word"));
    DeepgramWord word;
    word.punctuatedWord = reader.optionalString(u"punctuated_word");
    word.word = reader.string(u"word");
    word.start = reader.number(u"start");
    word.end = reader.number(u"end");
    word.speaker = reader.optionalInteger(u"speaker");
    return finish(reader, std::move(word));
}

std::expected<QList<DeepgramWord>, JsonDecodeError> firstAlternativeWords(const QJsonValue& channel)
{
    JsonObjectReader reader(channel, QStringLiteral("channel"));
    const QList<Alternative> alternatives = reader.list<Alternative>(u"alternatives");
    if (reader.failed())
        return std::unexpected(*reader.error());
    if (alternatives.isEmpty())
        return QList<DeepgramWord> {};
    return alternatives.first().words;
}

} // namespace lumora
