#include "StageLabels.hpp"

namespace lumora {

QString StageLabels::primaryLabel(const Flags& flags)
{
    if (flags.rehearsalActive)
        return flags.rehearsalEnded ? QStringLiteral("Close rehearsal") : QStringLiteral("End rehearsal");
    if (flags.isStartingConversation)
        return QStringLiteral("Starting\u2026");
    if (flags.isRecording || flags.isPaused)
        return QStringLiteral("Finish conversation");
    return QStringLiteral("Start conversation");
}

QString StageLabels::primaryIcon(const Flags& flags)
{
    if (flags.isStartingConversation)
        return QStringLiteral("ellipsis");
    if (flags.isRecording || flags.isPaused || flags.rehearsalActive)
        return QStringLiteral("stop.fill");
    return QStringLiteral("waveform");
}

QString StageLabels::primaryAccessibilityLabel(const Flags& flags)
{
    if (flags.rehearsalActive)
        return primaryLabel(flags);
    if (flags.isStartingConversation)
        return QStringLiteral("Starting conversation");
    if (flags.isRecording || flags.isPaused)
        return QStringLiteral("Finish conversation");
    return QStringLiteral("Start conversation");
}

bool StageLabels::showsEntryButtons(const Flags& flags)
{
    return !(flags.rehearsalActive || flags.isStartingConversation || flags.isRecording || flags.isPaused
        || flags.isProcessing);
}

QString StageLabels::checkinLabel(const Flags& flags)
{
    return flags.isCheckinOpening ? QStringLiteral("Getting this week\u2019s prompts\u2026")
                                  : QStringLiteral("Weekly check-in");
}

bool StageLabels::showsPause(const Flags& flags)
{
    return flags.isRecording || flags.isPaused;
}

QString StageLabels::pauseLabel(const Flags& flags)
{
    return flags.isPaused ? QStringLiteral("Resume") : QStringLiteral("Pause");
}

QString StageLabels::pauseIcon(const Flags& flags)
{
    return flags.isPaused ? QStringLiteral("play.fill") : QStringLiteral("pause.fill");
}

QString StageLabels::latestRowKey(const QList<ConversationTurn>& groups)
{
    const qsizetype pieces = groups.isEmpty() ? 0 : groups.constLast().pieces.size();
    return QStringLiteral("%1-%2").arg(groups.size()).arg(pieces);
}

} // namespace lumora
