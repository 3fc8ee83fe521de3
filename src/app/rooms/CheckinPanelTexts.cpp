#include "CheckinPanelTexts.hpp"

#include "display/DisplayFormats.hpp"

#include <QStringList>

namespace lumora {

QString CheckinPanelTexts::savedTitle()
{
    return QStringLiteral("Check-in saved");
}

QString CheckinPanelTexts::savedNotice(const QString& finishNotice)
{
    const QString title = savedTitle();
    if (!finishNotice.startsWith(title))
        return finishNotice;
    const QString rest = finishNotice.mid(title.size());
    if (rest.isEmpty())
        return QString();
    if (!rest.startsWith(QLatin1Char('.')))
        return finishNotice;
    return rest.mid(1).trimmed();
}

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
