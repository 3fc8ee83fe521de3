#include "domain/ConversationSummary.hpp"

#include "domain/ConversationPresentation.hpp"
#include "domain/TurnGrouping.hpp"

namespace lumora {

QString ConversationSummary::counted(const QList<SpeakerTurn>& turns,
    const QList<BehaviorAnnotation>& annotations, const QList<ProcessFoulAnnotation>& fouls,
    bool harshOpening, bool samePointAgain)
{
    const auto [warm, hard] = ConversationPresentation::warmHard(annotations, fouls, std::nullopt);
    QString summary = QStringLiteral("%1 turns, with %2 warm and %3 hard moments.")
                          .arg(TurnGrouping::group(turns).size())
                          .arg(warm)
                          .arg(hard);
    if (harshOpening)
        summary += QStringLiteral(" The opening was harsh.");
    if (samePointAgain)
        summary += QStringLiteral(" The same point came up again.");
    return summary;
}

} // namespace lumora
