#include "speech/SpeechScript.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <algorithm>

namespace lumora {

namespace {

// Seconds between the end of the built-in script and its next round.
constexpr double repeatGap = 2.0;

std::expected<ScriptWord, QString> parseWord(const QJsonValue& value)
{
    const QJsonObject object = value.toObject();
    ScriptWord word;
    word.word = object.value(u"word").toString();
    if (object.value(u"punctuated_word").isString())
        word.punctuatedWord = object.value(u"punctuated_word").toString();
    if (object.value(u"speaker").isDouble())
        word.speaker = object.value(u"speaker").toInteger();
    word.start = object.value(u"start").toDouble(-1);
    word.end = object.value(u"end").toDouble(-1);
    if (!value.isObject() || word.word.isEmpty() || word.start < 0 || word.end < word.start)
        return std::unexpected(QStringLiteral("every word needs \"word\", \"start\" and \"end\" >= start"));
    return word;
}

} // namespace

std::expected<SpeechScript, QString> SpeechScript::parse(const QByteArray& json)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    const QJsonValue utterances = document.object().value(u"utterances");
    if (error.error != QJsonParseError::NoError || !utterances.isArray())
        return std::unexpected(QStringLiteral("the script must be an object with an \"utterances\" list"));
    SpeechScript script;
    for (const QJsonValue& item : utterances.toArray()) {
        const QJsonObject object = item.toObject();
        ScriptUtterance utterance;
        if (object.value(u"speaker").isDouble())
            utterance.speaker = object.value(u"speaker").toInteger();
        for (const QJsonValue& value : object.value(u"words").toArray()) {
            auto word = parseWord(value);
            if (!word)
                return std::unexpected(word.error());
            utterance.words.append(*word);
        }
        if (utterance.words.isEmpty())
            return std::unexpected(QStringLiteral("every utterance needs at least one word"));
        script.m_utterances.append(utterance);
    }
    std::stable_sort(script.m_utterances.begin(), script.m_utterances.end(),
        [](const ScriptUtterance& a, const ScriptUtterance& b) { return a.start() < b.start(); });
    return script;
}

SpeechScript SpeechScript::builtIn()
{
    const char* lines[] = {
        "I felt left alone with the planning this week.",
        "I hear that. I thought you wanted to do it your way.",
        "Maybe, but I would like us to sit down together on Sunday.",
        "Sunday works. Can we start with the calendar?",
        "Yes. And thank you for listening.",
        "Of course. I want this to feel fair for both of us.",
    };
    SpeechScript script;
    double at = 0.5;
    qint64 speaker = 0;
    for (const char* line : lines) {
        ScriptUtterance utterance;
        utterance.speaker = speaker;
        for (const QString& token : QString::fromUtf8(line).split(u' ')) {
            QString bare = token.toLower();
            bare.remove(QRegularExpression(QStringLiteral("[^a-z']")));
            utterance.words.append({ bare, token, at, at + 0.3, std::nullopt });
            at += 0.35;
        }
        script.m_utterances.append(utterance);
        at += 1.0;
        speaker = 1 - speaker;
    }
    script.m_repeats = true;
    script.m_period = at + repeatGap;
    return script;
}

std::optional<ScriptUtterance> SpeechScript::utterance(qsizetype n) const
{
    if (m_utterances.isEmpty() || n < 0 || (!m_repeats && n >= m_utterances.size()))
        return std::nullopt;
    ScriptUtterance utterance = m_utterances.at(n % m_utterances.size());
    const double shift = double(n / m_utterances.size()) * m_period;
    for (ScriptWord& word : utterance.words) {
        word.start += shift;
        word.end += shift;
    }
    return utterance;
}

} // namespace lumora
