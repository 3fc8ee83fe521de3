#include "CheckinPanelTexts.hpp"

#include "DisplayFormats.hpp"

#include <QStringList>

namespace lumora {

QString CheckinPanelTexts::pacingText(qint64 suggestedMinutes, std::optional<double> elapsedInSection)
{
    const QString base = QStringLiteral("about %1 min").arg(suggestedMinutes);
    if (!elapsedInSection)
        return base;
    return DisplayFormats::clock(*elapsedInSection) + QStringLiteral(" · ") + base;
}

QString CheckinPanelTexts::paragraph(const ConversationTurn& group, const QString& interjectionName)
{
    QStringList parts;
    parts.reserve(group.pieces.size());
    for (const ConversationTurnPiece& piece : group.pieces)
        parts.append(piece.isInterjection
                ? interjectionName + QStringLiteral(": “") + piece.text + QStringLiteral("”")
                : piece.text);
    return parts.join(QLatin1Char(' '));
}

} // namespace lumora
