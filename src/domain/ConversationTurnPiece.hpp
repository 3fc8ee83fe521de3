#pragma once

#include <QString>

namespace lumora {

// One utterance inside a grouped turn; `speaker` is always a seat (0 or 1).
struct ConversationTurnPiece {
    qint64 turnIndex = 0;
    qint64 speaker = 0;
    QString text;
    double start = 0;
    double end = 0;
    bool isInterjection = false;

    ConversationTurnPiece() = default;
    ConversationTurnPiece(
        qint64 turnIndex, qint64 speaker, QString text, double start, double end, bool isInterjection);

    bool operator==(const ConversationTurnPiece&) const = default;
};

} // namespace lumora
