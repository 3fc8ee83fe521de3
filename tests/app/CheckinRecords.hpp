#pragma once

#include "domain/CheckinPack.hpp"
#include "domain/CheckinPrompt.hpp"
#include "domain/CheckinSection.hpp"

namespace lumora::testing {

// A pack of five sections of one prompt each, with a note for the week and one prompt's source.
inline CheckinPack packWithNote()
{
    CheckinPack pack;
    pack.week = QStringLiteral("2026-W07");
    pack.note = QStringLiteral("A gentle week: start with what went well.");
    pack.sections = {
        CheckinSection {
            "t", "Temperature", 1, { CheckinPrompt { "How are you arriving today?", std::nullopt } } },
        CheckinSection { "a", "Appreciation", 2,
            { CheckinPrompt { "Name one thing your partner did that you noticed.", "a reader's letter" } } },
        CheckinSection { "f", "Follow-up", 4, { CheckinPrompt { "What came of last week?", std::nullopt } } },
        CheckinSection { "q", "This week's question", 4,
            { CheckinPrompt { "What would rest look like?", std::nullopt } } },
        CheckinSection {
            "c", "Close", 2, { CheckinPrompt { "One word for the week ahead.", std::nullopt } } },
    };
    return pack;
}

} // namespace lumora::testing
