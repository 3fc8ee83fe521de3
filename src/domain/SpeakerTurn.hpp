#pragma once

#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <QString>
#include <expected>

namespace lumora {

// One diarized utterance; times are seconds from the start of the recording session.
struct SpeakerTurn {
    qint64 speaker = 0;
    double start = 0;
    double end = 0;
    QString text;

    SpeakerTurn() = default;
    // Reduces the speech provider's index to its remainder by 2, keeping its sign.
    SpeakerTurn(qint64 speaker, double start, double end, QString text);

    bool operator==(const SpeakerTurn&) const = default;

    QJsonObject toJson() const;
    // Keeps the decoded speaker as it is.
    [[nodiscard]] static std::expected<SpeakerTurn, JsonDecodeError> fromJson(const QJsonValue& value);
};

} // namespace lumora
