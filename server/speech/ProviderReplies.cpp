#include "speech/ProviderReplies.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QUuid>

namespace lumora::providerreplies {

namespace {

constexpr double wordConfidence = 0.98;

QJsonObject wordJson(const ScriptWord& word, const std::optional<qint64>& speaker)
{
    QJsonObject json { { "word", word.word }, { "start", word.start }, { "end", word.end },
        { "confidence", wordConfidence } };
    if (speaker) {
        json.insert("speaker", *speaker);
        json.insert("speaker_confidence", 0.9);
    }
    if (word.punctuatedWord)
        json.insert("punctuated_word", *word.punctuatedWord);
    return json;
}

QJsonObject alternative(const QList<std::pair<ScriptWord, std::optional<qint64>>>& words)
{
    QJsonArray list;
    QStringList transcript;
    for (const auto& [word, speaker] : words) {
        list.append(wordJson(word, speaker));
        transcript.append(word.punctuatedWord.value_or(word.word));
    }
    return { { "transcript", transcript.join(u' ') }, { "confidence", wordConfidence }, { "words", list } };
}

std::string text(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

QString requestID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

std::string liveResult(const ScriptUtterance& utterance, const QList<ScriptWord>& words, bool isFinal)
{
    QList<std::pair<ScriptWord, std::optional<qint64>>> spoken;
    for (const ScriptWord& word : words)
        spoken.append({ word, word.speaker ? word.speaker : utterance.speaker });
    const double start = words.isEmpty() ? utterance.start() : words.first().start;
    const double end = words.isEmpty() ? start : words.last().end;
    return text({ { "type", "Results" }, { "channel_index", QJsonArray { 0, 1 } },
        { "duration", end - start }, { "start", start }, { "is_final", isFinal }, { "speech_final", isFinal },
        { "channel", QJsonObject { { "alternatives", QJsonArray { alternative(spoken) } } } },
        { "metadata", QJsonObject { { "request_id", requestID() } } } });
}

std::string liveMetadata(double audioSeconds)
{
    return text({ { "type", "Metadata" }, { "request_id", requestID() }, { "duration", audioSeconds },
        { "channels", 1 } });
}

std::string prerecorded(const SpeechScript& script, double durationSeconds)
{
    QList<std::pair<ScriptWord, std::optional<qint64>>> spoken;
    for (qsizetype n = 0;; ++n) {
        const auto utterance = script.utterance(n);
        if (!utterance || utterance->start() >= durationSeconds)
            break;
        for (const ScriptWord& word : utterance->words) {
            if (word.start < durationSeconds)
                spoken.append({ word, word.speaker ? word.speaker : utterance->speaker });
        }
    }
    const QJsonObject metadata { { "request_id", requestID() }, { "duration", durationSeconds },
        { "channels", 1 }, { "models", QJsonArray { "nova-3" } } };
    const QJsonObject channel { { "alternatives", QJsonArray { alternative(spoken) } } };
    return text(
        { { "metadata", metadata }, { "results", QJsonObject { { "channels", QJsonArray { channel } } } } });
}

} // namespace lumora::providerreplies
