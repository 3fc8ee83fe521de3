#pragma once

#include "domain/ConversationTurn.hpp"

#include <QString>
#include <optional>

namespace lumora {

// The texts of the check-in room's section card, transcript rows and saved panel.
struct CheckinPanelTexts {
    // The saved panel's title.
    static QString savedTitle();
    // What the saved panel says of how the check-in was saved beyond its title: the finish's
    // notice less a leading "Check-in saved."; empty when it says no more than the title.
    static QString savedNotice(const QString& finishNotice);
    // "about 4 min"; while the section is timed, its clock first: "3:07 · about 4 min".
    static QString pacingText(qint64 suggestedMinutes, std::optional<double> elapsedInSection);
    // The turn's pieces as they were said, in order, joined by single spaces; an interjection
    // reads `interjectionName`: “text”. Plain text: the view shows it as such.
    static QString paragraph(const ConversationTurn& group, const QString& interjectionName);
};

} // namespace lumora
