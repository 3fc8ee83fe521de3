#include "RoomStatus.hpp"

#include "RehearsalConversation.hpp"

namespace lumora {

QString RoomStatus::word(
    bool rehearsalActive, double rehearsalElapsed, bool isProcessing, bool isPaused, bool isRecording)
{
    if (rehearsalActive)
        return rehearsalElapsed >= RehearsalConversation::endedAt ? QStringLiteral("rehearsal ended")
                                                                  : QStringLiteral("rehearsal");
    if (isProcessing)
        return QStringLiteral("reading it back");
    if (isPaused)
        return QStringLiteral("paused");
    if (isRecording)
        return QStringLiteral("listening");
    return {};
}

bool RoomStatus::showsPill(bool rehearsalActive, const QString& word)
{
    return rehearsalActive || !word.isEmpty();
}

QString RoomStatus::pillLabel(bool rehearsalActive, double rehearsalElapsed, const QString& word)
{
    if (rehearsalActive)
        return rehearsalElapsed >= RehearsalConversation::endedAt ? QStringLiteral("Rehearsal complete")
                                                                  : QStringLiteral("Rehearsal");
    QString label = word;
    bool wordStart = true;
    for (QChar& c : label) {
        if (wordStart)
            c = c.toUpper();
        wordStart = c.isSpace();
    }
    return label;
}

bool RoomStatus::dotIsLive(bool active, const QString& word)
{
    return active && word != QLatin1String("paused");
}

bool RoomStatus::showsClock(bool active, bool isProcessing)
{
    return active || isProcessing;
}

} // namespace lumora
