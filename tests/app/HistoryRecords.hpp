#pragma once

#include "domain/ConversationHistoryEntry.hpp"
#include "domain/DerivedSessionResult.hpp"

#include <QTimeZone>

namespace lumora::testing {

// 2026-02-09 19:30:00 UTC, a Monday.
inline QDateTime february9()
{
    return QDateTime(QDate(2026, 2, 9), QTime(19, 30), QTimeZone::utc());
}

// The id of a history row or review named by a letter, so that tables can name them.
inline QUuid idOf(char key, int kind = 0)
{
    return QUuid(QStringLiteral("00000000-0000-4000-8%1-0000000000%2")
                     .arg(kind, 3, 10, QLatin1Char('0'))
                     .arg(int(key), 2, 16, QLatin1Char('0')));
}

inline QString keyOf(char key)
{
    return idOf(key).toString(QUuid::WithoutBraces);
}

// A history row: a conversation of 600 s on Feb 9, kept only on this computer.
inline ConversationHistoryEntry historyRow(char key, std::optional<QString> title = std::nullopt)
{
    ConversationHistoryEntry entry;
    entry.id = idOf(key);
    entry.title = std::move(title);
    entry.completedAt = february9();
    entry.duration = 600;
    return entry;
}

// The same row with its review stored here (the review's id is the row's local id).
inline ConversationHistoryEntry storedRow(char key, std::optional<QString> title = std::nullopt)
{
    ConversationHistoryEntry entry = historyRow(key, std::move(title));
    entry.localID = idOf(key, 1);
    entry.turns = 2;
    return entry;
}

// A conversation's review: two seats of 52 and 48 percent, warm and hard moments of both,
// a process foul, a harsh start and a short transcript with an interjection.
inline DerivedSessionResult conversationReview(char key)
{
    DerivedSessionResult review;
    review.id = idOf(key, 1);
    review.title = QStringLiteral("Bills");
    review.completedAt = february9();
    review.duration = 95.5;
    review.stats = { SpeakerStats { 0, 50, 2, 30, 0.52 }, SpeakerStats { 1, 45.5, 1, 45.5, 0.48 } };
    review.annotations = { BehaviorAnnotation(0, 0, BehaviorCode::criticism, 0.9, 1, 5),
        BehaviorAnnotation(1, 1, BehaviorCode::repair, 0.8, 52, 60),
        BehaviorAnnotation(2, 0, BehaviorCode::positive, 0.7, 70, 80) };
    review.fouls
        = QList<ProcessFoulAnnotation> { ProcessFoulAnnotation(0, 0, ProcessFoul::globalizing, 0.75, 2, 5) };
    review.harshStartupDetected = true;
    review.summary = QStringLiteral("You both named the bills, and came back to each other.");
    review.transcript = QList<SpeakerTurn> { SpeakerTurn(0, 0, 20, "Can we look at the bills tonight?"),
        SpeakerTurn(1, 20, 21, "Mm-hm."), SpeakerTurn(0, 21, 50, "I keep finding them on the table."),
        SpeakerTurn(1, 50, 95.5, "Yes. Tonight, after dinner, together.") };
    return review;
}

// The same review with a transcript of `turns` turns that each stand alone, the seats taking
// turns; the last says "This is turn <turns>, …".
inline DerivedSessionResult longReview(char key, int turns)
{
    DerivedSessionResult review = conversationReview(key);
    QList<SpeakerTurn> said;
    for (int turn = 1; turn <= turns; ++turn)
        said.append(SpeakerTurn(turn % 2, turn * 10, turn * 10 + 8,
            QStringLiteral("This is turn %1, long enough to stand as a turn of its own.").arg(turn)));
    review.transcript = said;
    return review;
}

} // namespace lumora::testing
