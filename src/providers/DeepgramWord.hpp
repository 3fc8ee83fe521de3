#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonValue>
#include <QList>
#include <QString>
#include <expected>
#include <optional>

namespace lumora {

// One recognised word of a speech-provider reply, as both the live and the pre-recorded
// reply carry it. Only these fields are read; anything else a word holds is ignored.
struct DeepgramWord {
    std::optional<QString> punctuatedWord;
    QString word;
    double start = 0;
    double end = 0;
    std::optional<qint64> speaker;

    // The punctuated form when the provider gave one, else the bare word.
    [[nodiscard]] const QString& text() const { return punctuatedWord ? *punctuatedWord : word; }

    [[nodiscard]] static std::expected<DeepgramWord, JsonDecodeError> fromJson(const QJsonValue& value);
};

// The words of the first alternative of one channel object ({"alternatives": [{"words": [...]}]}).
// A missing or mistyped "alternatives" or "words" is a failure; an empty alternatives list
// gives no words.
[[nodiscard]] std::expected<QList<DeepgramWord>, JsonDecodeError> firstAlternativeWords(
    const QJsonValue& channel);

} // namespace lumora
