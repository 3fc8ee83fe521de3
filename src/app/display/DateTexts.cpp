#include "DateTexts.hpp"

#include "domain/UnixSeconds.hpp"

#include <QRegularExpression>

namespace lumora {

DateTexts DateTexts::system()
{
    return { QLocale(), QTimeZone::systemTimeZone() };
}

QString DateTexts::date(const QDateTime& moment) const
{
    return m_locale.toString(moment.toTimeZone(m_zone).date(), QStringLiteral("MMM d, yyyy"));
}

QString DateTexts::time(const QDateTime& moment) const
{
    // Some locales (the C locale among them) keep the seconds in their short format.
    static const QRegularExpression secondsField(QStringLiteral("[:.]?s+"));
    QString format = m_locale.timeFormat(QLocale::ShortFormat);
    format.remove(secondsField);
    return m_locale.toString(moment.toTimeZone(m_zone).time(), format.trimmed());
}

QString DateTexts::dateAndTime(const QDateTime& moment) const
{
    return date(moment) + QStringLiteral(" at ") + time(moment);
}

QString DateTexts::date(qint64 seconds) const
{
    return date(dateFromUnixSeconds(seconds));
}

QString DateTexts::time(qint64 seconds) const
{
    return time(dateFromUnixSeconds(seconds));
}

QString DateTexts::dateAndTime(qint64 seconds) const
{
    return dateAndTime(dateFromUnixSeconds(seconds));
}

} // namespace lumora
