#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <expected>
#include <optional>

namespace lumora {

struct ScriptWord {
    QString word;
    std::optional<QString> punctuatedWord;
    double start = 0;
    double end = 0;
    std::optional<qint64> speaker; // overrides the utterance's speaker for this word
};

struct ScriptUtterance {
    std::optional<qint64> speaker; // absent: the provider names no speaker for its words
    QList<ScriptWord> words; // never empty, in time order
    [[nodiscard]] double start() const { return words.first().start; }
    [[nodiscard]] double end() const { return words.last().end; }
};

// What the stand-in "hears": utterances with their speaker and timed words, replayed
// against the audio it receives. The built-in script repeats for as long as audio comes.
//
// File form: {"utterances": [{"speaker": 0, "words": [{"word": "hello",
// "punctuated_word": "Hello,", "start": 0.2, "end": 0.5}, ...]}, ...]}; "speaker" and
// "punctuated_word" may be left out, and a word may carry its own "speaker" (one final
// result then holds several speakers); utterances are sorted by their first word's start.
class SpeechScript {
public:
    static std::expected<SpeechScript, QString> parse(const QByteArray& json);
    static SpeechScript builtIn();

    // The n-th utterance of the (possibly repeating) script; none past the end.
    [[nodiscard]] std::optional<ScriptUtterance> utterance(qsizetype n) const;

private:
    QList<ScriptUtterance> m_utterances;
    bool m_repeats = false;
    double m_period = 0;
};

} // namespace lumora
