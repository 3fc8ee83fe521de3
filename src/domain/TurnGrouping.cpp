#include "domain/TurnGrouping.hpp"

#include "domain/Seat.hpp"

#include <cmath>
#include <map>

namespace lumora {

ConversationTurnPiece::ConversationTurnPiece(
    qint64 turnIndex, qint64 speaker, QString text, double start, double end, bool isInterjection)
    : turnIndex(turnIndex)
    , speaker(seatOf(speaker))
    , text(std::move(text))
    , start(start)
    , end(end)
    , isInterjection(isInterjection)
{
}

ConversationTurn::ConversationTurn(
    qint64 speaker, double start, double end, double talkTime, QList<ConversationTurnPiece> pieces)
    : speaker(seatOf(speaker))
    , start(start)
    , end(end)
    , talkTime(talkTime)
    , pieces(std::move(pieces))
{
}

qsizetype TurnGrouping::wordCount(QStringView text)
{
    qsizetype words = 0;
    bool inWord = false;
    for (QChar c : text) {
        // Every Unicode whitespace character lies in the Basic Multilingual Plane, so
        // looking at UTF-16 units one by one never splits a word wrongly.
        const bool space = c.isSpace();
        if (!space && !inWord)
            ++words;
        inWord = !space;
    }
    return words;
}

double TurnGrouping::talkDuration(double start, double end)
{
    const double duration = end - start;
    return std::isfinite(duration) && duration > 0 ? duration : 0.0;
}

QList<ConversationTurn> TurnGrouping::group(const QList<SpeakerTurn>& turns)
{
    QList<ConversationTurn> result;
    ConversationTurn current;

    auto open = [&](qsizetype index, const SpeakerTurn& turn, qint64 seat) {
        current = ConversationTurn(seat, turn.start, turn.end > turn.start ? turn.end : turn.start,
            talkDuration(turn.start, turn.end),
            { ConversationTurnPiece(index, seat, turn.text, turn.start, turn.end, false) });
    };

    for (qsizetype i = 0; i < turns.size(); ++i) {
        const SpeakerTurn& turn = turns.at(i);
        const qint64 seat = seatOf(turn.speaker);
        const double duration = turn.end - turn.start;

        if (current.pieces.isEmpty()) {
            open(i, turn, seat);
            continue;
        }
        if (seat == current.speaker) {
            current.pieces.append(ConversationTurnPiece(i, seat, turn.text, turn.start, turn.end, false));
            if (turn.end > current.end)
                current.end = turn.end;
            current.talkTime += talkDuration(turn.start, turn.end);
            continue;
        }
        // Words are counted last: most turns are ruled out by their length or what follows.
        const bool interjection = i + 1 < turns.size() && duration <= backchannelMaxSeconds
            && seatOf(turns.at(i + 1).speaker) == current.speaker
            && wordCount(turn.text) <= backchannelMaxWords;
        if (interjection) {
            current.pieces.append(ConversationTurnPiece(i, seat, turn.text, turn.start, turn.end, true));
            if (turn.end > current.end)
                current.end = turn.end;
            continue;
        }
        result.append(std::move(current));
        open(i, turn, seat);
    }
    if (!current.pieces.isEmpty())
        result.append(std::move(current));
    return result;
}

QList<SpeakerStats> TurnGrouping::stats(const QList<ConversationTurn>& groups)
{
    struct SeatTotals {
        double talkTime = 0;
        qint64 turns = 0;
        double longestTurn = 0;
    };
    std::map<qint64, SeatTotals> seats; // ordered: seats are reported in ascending order

    for (const ConversationTurn& group : groups) {
        SeatTotals& holder = seats[group.speaker];
        holder.turns += 1;
        if (group.talkTime > holder.longestTurn)
            holder.longestTurn = group.talkTime;
        for (const ConversationTurnPiece& piece : group.pieces)
            seats[piece.speaker].talkTime += talkDuration(piece.start, piece.end);
    }

    double total = 0;
    for (const auto& [seat, totals] : seats)
        total += totals.talkTime;

    QList<SpeakerStats> result;
    for (const auto& [seat, totals] : seats) {
        result.append(SpeakerStats { .speaker = seat,
            .talkTime = totals.talkTime,
            .turns = totals.turns,
            .longestTurn = totals.longestTurn,
            .share = total > 0 && std::isfinite(total) ? totals.talkTime / total : 0.0 });
    }
    return result;
}

QHash<qint64, qsizetype> TurnGrouping::groupIndexByTurnIndex(const QList<ConversationTurn>& groups)
{
    QHash<qint64, qsizetype> index;
    for (qsizetype g = 0; g < groups.size(); ++g) {
        for (const ConversationTurnPiece& piece : groups.at(g).pieces)
            index.insert(piece.turnIndex, g);
    }
    return index;
}

} // namespace lumora
