#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>

namespace lumora {

// Moments as the user reads them: in `zone`, with `locale`'s month names and time format.
// Both are handed in, so the texts do not depend on the machine a test runs on.
class DateTexts {
public:
    DateTexts(QLocale locale, QTimeZone zone)
        : m_locale(std::move(locale))
        , m_zone(std::move(zone))
    {
    }
    // The user's own locale and zone.
    static DateTexts system();

    // The locale's medium date: "Feb 9, 2026" in the United States, "9 Feb 2026" in Britain.
    [[nodiscard]] QString date(const QDateTime& moment) const;
    [[nodiscard]] static QString mediumDateFormat(const QLocale& locale);
    // The locale's short time without seconds: "7:30 PM" in the United States.
    [[nodiscard]] QString time(const QDateTime& moment) const;
    // "Feb 9, 2026 at 7:30 PM" in the United States.
    [[nodiscard]] QString dateAndTime(const QDateTime& moment) const;
    // The same for whole seconds since 1970.
    [[nodiscard]] QString date(qint64 seconds) const;
    [[nodiscard]] QString time(qint64 seconds) const;
    [[nodiscard]] QString dateAndTime(qint64 seconds) const;

    [[nodiscard]] const QLocale& locale() const { return m_locale; }
    [[nodiscard]] const QTimeZone& zone() const { return m_zone; }

private:
    QLocale m_locale;
    QTimeZone m_zone;
};

} // namespace lumora
