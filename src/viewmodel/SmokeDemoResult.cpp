#include "viewmodel/SmokeDemoResult.hpp"

#include "domain/DemoConversation.hpp"
#include "domain/TurnGrouping.hpp"

namespace lumora {

DerivedSessionResult SmokeDemoResult::make(const QDateTime& now)
{
    const QList<SpeakerTurn>& transcript = DemoConversation::turns();

    DerivedSessionResult result;
    result.id = QUuid::createUuid();
    result.title = QStringLiteral("The Phone at Dinner");
    result.completedAt = now.addSecs(-3600);
    result.duration = 141.0;
    result.mode = ConversationMode::conversation;
    result.stats = TurnGrouping::stats(TurnGrouping::group(transcript));
    result.annotations = DemoConversation::annotations();
    result.fouls = DemoConversation::fouls();
    result.summary = QStringLiteral("The conversation moved from protest and withdrawal into responsibility, "
                                    "reflection, and a concrete turn toward each other.");
    result.transcript = transcript;
    return result;
}

} // namespace lumora
