#include "domain/ConversationMethod.hpp"

namespace lumora {

const QList<ConversationAgendaStep>& ConversationMethod::agenda()
{
    static const QList<ConversationAgendaStep> steps {
        ConversationAgendaStep { .id = 0,
            .name = QStringLiteral("Arrive regulated"),
            .guidance = QStringLiteral("Each of you names how activated you feel right now, and takes one "
                                       "slow breath before you start."),
            .starter = QStringLiteral("Before we start — where am I on the scale, and can I settle first?") },
        ConversationAgendaStep { .id = 1,
            .name = QStringLiteral("Name the cycle"),
            .guidance = QStringLiteral("Name the loop you both get stuck in — the pattern, not the person."),
            .starter = QStringLiteral("The cycle we keep getting stuck in is…") },
        ConversationAgendaStep { .id = 2,
            .name = QStringLiteral("Reach underneath"),
            .guidance = QStringLiteral(
                "Name the vulnerable feeling beneath your protest or withdrawal, and what you needed."),
            .starter = QStringLiteral("Underneath that, what I’m really feeling is…") },
        ConversationAgendaStep { .id = 3,
            .name = QStringLiteral("Attune"),
            .guidance = QStringLiteral(
                "Reflect the feeling and the need before answering, so your partner feels felt."),
            .starter = QStringLiteral("What I’m hearing is you felt… did I get that?") },
        ConversationAgendaStep { .id = 4,
            .name = QStringLiteral("The other side"),
            .guidance
            = QStringLiteral("Share your experience of the same cycle with the same vulnerability."),
            .starter = QStringLiteral("My side of that same cycle is…") },
        ConversationAgendaStep { .id = 5,
            .name = QStringLiteral("Turn toward"),
            .guidance = QStringLiteral(
                "Each of you offers one small turning-toward move to make before the next talk."),
            .starter = QStringLiteral("One way I can turn toward you this week is…") },
    };
    return steps;
}

} // namespace lumora
