#pragma once

#include "display/DateTexts.hpp"
#include "domain/PairingHistorySummary.hpp"
#include "domain/PairingState.hpp"
#include "domain/PairingWorkspace.hpp"

#include <QString>
#include <optional>

namespace lumora {

// The sentences the pairing section builds from the pairing values. Moments are whole seconds
// since 1970, shown as `dates` shows them.
class PairingTexts {
public:
    explicit PairingTexts(DateTexts dates)
        : m_dates(std::move(dates))
    {
    }

    [[nodiscard]] const DateTexts& dates() const { return m_dates; }

    // "Linked since <date> · N people", or "N people" without a link date.
    [[nodiscard]] QString linkedSince(const PairingWorkspace& workspace) const;
    // What joining the partner's history would share.
    [[nodiscard]] QString sharedHistorySentence(const PairingHistorySummary& history) const;
    // The conversations kept from earlier, unlinked workspaces; none when there are none.
    [[nodiscard]] static std::optional<QString> earlierHistoryNote(
        const std::optional<PairingState>& pairing);
    // "Pairing code 7 K 3 M ...": assistive speech reads the code one character at a time.
    [[nodiscard]] static QString codeAccessibleName(const QString& code);

private:
    DateTexts m_dates;
};

} // namespace lumora
