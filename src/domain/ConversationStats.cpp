#include "domain/ConversationStats.hpp"

#include "domain/TurnGrouping.hpp"

namespace lumora {

QList<SpeakerStats> ConversationStats::compute(const QList<SpeakerTurn>& turns)
{
    return TurnGrouping::stats(TurnGrouping::group(turns));
}

} // namespace lumora
