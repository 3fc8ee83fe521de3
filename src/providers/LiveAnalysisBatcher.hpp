#pragma once

#include "domain/SpeakerTurn.hpp"

#include <QDateTime>
#include <QList>
#include <optional>

namespace lumora {

// Turns released together for one live analysis, and the conversation index of the first
// of them: the number of turns released in earlier batches. The index is fixed at release,
// so a failed or overlapping analysis of another batch cannot move this one's findings.
struct LiveAnalysisBatch {
    QList<SpeakerTurn> turns;
    qint64 firstTurnIndex = 0;

    bool operator==(const LiveAnalysisBatch&) const = default;
};

// Gathers settled live turns and releases them for analysis: at once when six have come
// together, or with the turn that finds at least four waiting 45 seconds or more since
// the first of them arrived. There is no timer; the wait is checked only on append.
class LiveAnalysisBatcher {
public:
    static constexpr qsizetype minimumTurns = 4;
    static constexpr qsizetype maximumTurns = 6;
    static constexpr qint64 maximumWaitMilliseconds = 45'000;

    // Adds a turn that arrived at `now`; the released batch, if this turn completes one.
    std::optional<LiveAnalysisBatch> append(SpeakerTurn turn, const QDateTime& now);
    // Everything pending as one batch (however few), or nothing when nothing is pending.
    std::optional<LiveAnalysisBatch> flush();

    [[nodiscard]] qsizetype pendingCount() const { return m_pending.size(); }

private:
    LiveAnalysisBatch drain();

    QList<SpeakerTurn> m_pending;
    std::optional<QDateTime> m_firstPendingAt;
    qint64 m_releasedTurns = 0;
};

} // namespace lumora
