#include "TranscriptTurnText.hpp"

#include "domain/BehaviorCode.hpp"
#include "theme/ThemePalette.hpp"

#include <QStringList>

namespace lumora {

TranscriptTurnText::Wash TranscriptTurnText::wash(const QList<BehaviorAnnotation>& annotations)
{
    const BehaviorAnnotation* strongest = nullptr;
    for (const BehaviorAnnotation& annotation : annotations) {
        if (!strongest || annotation.confidence > strongest->confidence)
            strongest = &annotation;
    }
    if (!strongest)
        return Wash::none;
    return isWarm(strongest->code) ? Wash::warm : Wash::hard;
}

QString TranscriptTurnText::paragraph(
    const ConversationTurn& group, const QString& interjectionName, int displaySide)
{
    // The other side's colour, at 13 of the paragraph's 16 (size 2 of styled text).
    const QString otherColour = sideColour(displaySide == 0 ? 1 : 0).name();
    QStringList kept;
    for (const ConversationTurnPiece& piece : group.pieces) {
        const QString text = piece.text.trimmed();
        if (text.isEmpty())
            continue;
        if (piece.isInterjection)
            kept.append(QStringLiteral("<i><font size=\"2\" color=\"%1\">%2: \u201c%3\u201d</font></i>")
                            .arg(otherColour, interjectionName.toHtmlEscaped(), text.toHtmlEscaped()));
        else
            kept.append(text.toHtmlEscaped());
    }
    return kept.join(QLatin1Char(' '));
}

QString TranscriptTurnText::spokenParagraph(const ConversationTurn& group, const QString& interjectionName)
{
    QStringList pieces;
    for (const ConversationTurnPiece& piece : group.pieces)
        pieces.append(
            piece.isInterjection ? interjectionName + QStringLiteral(" says ") + piece.text : piece.text);
    return pieces.join(QLatin1Char(' '));
}

QColor TranscriptTurnText::sideColour(int displaySide)
{
    return displaySide == 0 ? ThemePalette::positive() : ThemePalette::information();
}

} // namespace lumora
