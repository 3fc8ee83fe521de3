#include "AgendaNote.hpp"

namespace lumora {

QString AgendaNote::note(bool rehearsalActive, int selectedStep,
    const std::optional<HarshStartupEvidence>& startup, const QString& liveStepNote)
{
    if (rehearsalActive)
        return QStringLiteral("moved ahead with you");
    if (selectedStep == 1 && startup && startup->confidence >= 0.5)
        return startup->detected ? QStringLiteral("opened in the cycle \u2014 try the reach underneath")
                                 : QStringLiteral("secure opening");
    return liveStepNote;
}

} // namespace lumora
