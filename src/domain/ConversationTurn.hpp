#pragma once

#include "domain/ConversationTurnPiece.hpp"

#include <QList>

namespace lumora {

// One grouped turn of one seat, with the other seat's short interjections held inside.
struct ConversationTurn {
    qint64 speaker = 0;
    double start = 0;
    double end = 0;
    double talkTime = 0;
    QList<ConversationTurnPiece> pieces;

    ConversationTurn() = default;
    ConversationTurn(
        qint64 speaker, double start, double end, double talkTime, QList<ConversationTurnPiece> pieces);

    bool operator==(const ConversationTurn&) const = default;
};

} // namespace lumora
