#include "viewmodel/SmokeDemoResult.hpp"

#include "domain/TurnGrouping.hpp"

namespace lumora {

DerivedSessionResult SmokeDemoResult::make(const QDateTime& now)
{
    const QList<SpeakerTurn> transcript {
        { 0, 0, 8,
            QStringLiteral(
                "One thing I appreciated this week: you made room for me to rest. That mattered.") },
        { 1, 9, 15, QStringLiteral("Thank you. I appreciated the note you left me. I kept it.") },
        { 0, 16, 22, QStringLiteral("I want to talk about the phone at dinner.") },
        { 0, 23, 30, QStringLiteral("You’re always on it. It feels like we aren’t even there.") },
        { 1, 31, 39, QStringLiteral("That isn’t fair. I answer two messages and suddenly I don’t care?") },
        { 0, 40, 46, QStringLiteral("Right. You work so hard and never do anything wrong.") },
        { 1, 47, 54, QStringLiteral("Fine. Whatever you say.") },
        { 0, 55, 63, QStringLiteral("Wait. I don’t want to do it like this. I’m sorry — that was mean.") },
        { 1, 64, 73, QStringLiteral("Thank you. What I hear is that dinner is our one hour together.") },
        { 0, 74, 81, QStringLiteral("Yes. It’s not the messages. I feel like I’m competing for you.") },
        { 1, 82, 91, QStringLiteral("The part that’s true is I do check out. Work is my excuse.") },
        { 0, 92, 101, QStringLiteral("What I need is one hour where we’re all actually together.") },
        { 1, 102, 112,
            QStringLiteral("What if the phone stays in the kitchen, then I clear the queue after?") },
        { 0, 113, 121, QStringLiteral("Deal. I’ll save the logistics list for after dinner too.") },
        { 1, 122, 132,
            QStringLiteral("I hear that you were asking for an hour. Thank you for staying with it.") },
        { 0, 133, 141, QStringLiteral("Thank you for hearing me. That felt different.") },
    };
    using enum BehaviorCode;
    const QList<BehaviorAnnotation> annotations {
        { 0, 0, positive, 0.88, 1, 7 },
        { 1, 1, positive, 0.84, 10, 15 },
        { 3, 0, criticism, 0.91, 23, 26 },
        { 4, 1, defensiveness, 0.86, 32, 39 },
        { 5, 0, contempt, 0.87, 41, 46 },
        { 6, 1, stonewalling, 0.86, 48, 53 },
        { 7, 0, repair, 0.92, 57, 63 },
        { 8, 1, positive, 0.87, 65, 73 },
        { 10, 1, repair, 0.86, 83, 91 },
        { 12, 1, repair, 0.83, 103, 112 },
        { 13, 0, positive, 0.78, 114, 121 },
        { 14, 1, positive, 0.86, 123, 132 },
        { 15, 0, positive, 0.88, 134, 141 },
    };
    const QList<ProcessFoulAnnotation> fouls {
        { 3, 0, ProcessFoul::globalizing, 0.86, 23, 26 },
        { 3, 0, ProcessFoul::mindReading, 0.74, 26, 30 },
        { 4, 1, ProcessFoul::mindReading, 0.68, 34, 39 },
    };

    DerivedSessionResult result;
    result.id = QUuid::createUuid();
    result.title = QStringLiteral("The Phone at Dinner");
    result.completedAt = now.addSecs(-3600);
    result.duration = 141.0;
    result.mode = ConversationMode::conversation;
    result.stats = TurnGrouping::stats(TurnGrouping::group(transcript));
    result.annotations = annotations;
    result.fouls = fouls;
    result.summary = QStringLiteral("The conversation moved from protest and withdrawal into responsibility, "
                                    "reflection, and a concrete turn toward each other.");
    result.transcript = transcript;
    return result;
}

} // namespace lumora
