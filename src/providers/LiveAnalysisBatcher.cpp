#include "providers/LiveAnalysisBatcher.hpp"

namespace lumora {

std::optional<LiveAnalysisBatch> LiveAnalysisBatcher::append(SpeakerTurn turn, const QDateTime& now)
{
    if (m_pending.isEmpty())
        m_firstPendingAt = now;
    m_pending.append(std::move(turn));
    const qint64 waited = m_firstPendingAt ? m_firstPendingAt->msecsTo(now) : 0;
    if (m_pending.size() >= maximumTurns
        || (m_pending.size() >= minimumTurns && waited >= maximumWaitMilliseconds))
        return drain();
    return std::nullopt;
}

std::optional<LiveAnalysisBatch> LiveAnalysisBatcher::flush()
{
    if (m_pending.isEmpty())
        return std::nullopt;
    return drain();
}

LiveAnalysisBatch LiveAnalysisBatcher::drain()
{
    LiveAnalysisBatch batch { m_pending, m_releasedTurns };
    m_releasedTurns += m_pending.size();
    m_pending.clear();
    m_firstPendingAt.reset();
    return batch;
}

} // namespace lumora
