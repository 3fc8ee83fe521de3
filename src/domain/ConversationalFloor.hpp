#pragma once

#include <QtGlobal>
#include <optional>

namespace lumora {

// Who holds the floor, since when, and how many interjections the holder has absorbed.
struct ConversationalFloor {
    qint64 speaker = 0;
    double startedAt = 0;
    std::optional<double> confidence;
    qint64 interjections = 0;

    ConversationalFloor() = default;
    // Stores the seat of whatever speaker index it is given.
    ConversationalFloor(qint64 speaker, double startedAt, std::optional<double> confidence = std::nullopt,
        qint64 interjections = 0);

    bool operator==(const ConversationalFloor&) const = default;
};

} // namespace lumora
