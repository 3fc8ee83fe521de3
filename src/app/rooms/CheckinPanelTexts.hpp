#pragma once

#include "domain/ConversationTurn.hpp"

#include <QString>
#include <optional>

namespace lumora {

// The texts of the check-in room's section card and transcript rows.
struct CheckinPanelTexts {
    // "about 4 min"; while the section is timed, its clock first: "3:07 · about 4 min".
    static QString pacingText(qint64 suggestedMinutes, std::optional<double> elapsedInSection);
    // The turn's pieces as they were said, in order, joined by single spaces; an interjection
    // reads `interjectionName`: “text”. Plain text: the view shows it as such.
    static QString paragraph(const ConversationTurn& group, const QString& interjectionName);
};

} // namespace lumora
