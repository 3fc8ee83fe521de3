#pragma once

#include "domain/PairingHistorySummary.hpp"
#include "domain/PairingState.hpp"
#include "domain/PairingWorkspace.hpp"

#include <QLocale>
#include <QString>
#include <QTimeZone>
#include <optional>

namespace lumora {

// The sentences the pairing section builds from the pairing values. Moments are whole seconds
// since 1970, shown in `zone` with `locale`'s month names and time format.
class PairingTexts {
public:
    PairingTexts(QLocale locale, QTimeZone zone)
        : m_locale(std::move(locale))
        , m_zone(std::move(zone))
    {
    }

    // The locale's medium date: "Feb 9, 2026" in the United States, "9 Feb 2026" in Britain.
    [[nodiscard]] QString date(qint64 seconds) const;
    [[nodiscard]] static QString mediumDateFormat(const QLocale& locale);
    // The locale's short time: "7:30 PM" in the United States.
    [[nodiscard]] QString time(qint64 seconds) const;
    // "Feb 9, 2026 at 7:30 PM" in the United States.
    [[nodiscard]] QString dateAndTime(qint64 seconds) const;

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
    [[nodiscard]] QDateTime moment(qint64 seconds) const;

    QLocale m_locale;
    QTimeZone m_zone;
};

} // namespace lumora
