#pragma once

#include "domain/ConversationTurn.hpp"
#include "domain/SpeakerStats.hpp"
#include "domain/SpeakerTurn.hpp"

#include <QHash>
#include <QList>
#include <QStringView>

namespace lumora {

// Groups utterances into turns per seat and derives per-seat statistics. A short
// utterance of the other seat that falls between two utterances of the holder is held
// as an interjection instead of breaking the turn.
struct TurnGrouping {
    static constexpr qsizetype backchannelMaxWords = 6;
    static constexpr double backchannelMaxSeconds = 3.0;

    static QList<ConversationTurn> group(const QList<SpeakerTurn>& turns);
    static QList<SpeakerStats> stats(const QList<ConversationTurn>& groups);
    // Utterance index -> index of the group holding it; a later group wins.
    static QHash<qint64, qsizetype> groupIndexByTurnIndex(const QList<ConversationTurn>& groups);

    // Maximal runs of non-whitespace characters (Unicode whitespace, line breaks included).
    static qsizetype wordCount(QStringView text);
    // end - start when that is a finite non-negative number, else 0: a reversed or
    // unbounded utterance adds no talk time.
    static double talkDuration(double start, double end);
};

} // namespace lumora
