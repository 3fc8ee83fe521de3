#pragma once

#include "domain/BehaviorAnnotation.hpp"
#include "domain/ConversationTurn.hpp"

#include <QColor>
#include <QList>
#include <QString>

namespace lumora {

// The texts and tint of one transcript row: a grouped turn of one side with the other side's
// interjections held inside it.
struct TranscriptTurnText {
    enum class Wash { none, warm, hard };

    // The tint of the row: the most confident annotation decides (the first of equals), warm
    // or hard; none without annotations. Fouls never tint a row.
    static Wash wash(const QList<BehaviorAnnotation>& annotations);
    // The visible paragraph as styled text: each piece trimmed, blank pieces left out, kept
    // pieces joined by one space; an interjection reads `interjectionName`: “text” in the
    // smaller italic of the other side's colour. Transcribed words are escaped, so nothing
    // they contain is taken for markup.
    static QString paragraph(const ConversationTurn& group, const QString& interjectionName, int displaySide);
    // What a screen reader says for the paragraph: every piece as transcribed (blank ones
    // included), an interjection as `interjectionName` says text, joined by single spaces.
    static QString spokenParagraph(const ConversationTurn& group, const QString& interjectionName);
    // The colour of a side's names and rules: the left side positive, the right information.
    static QColor sideColour(int displaySide);
};

} // namespace lumora
