#include "DateTexts.hpp"

#include "domain/UnixSeconds.hpp"

#include <QRegularExpression>

namespace lumora {

DateTexts DateTexts::system()
{
    return { QLocale(), QTimeZone::systemTimeZone() };
}

QString DateTexts::mediumDateFormat(const QLocale& locale)
{
    // The long form without its weekday (and the separator that joins it), with short month
    // names: the medium form Qt does not offer ("MMM d, yyyy", "d MMM yyyy", "yyyy年M月d日").
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*|[,.]?\\s*d{4}"));
    QString format = locale.dateFormat(QLocale::LongFormat);
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

QString DateTexts::date(const QDateTime& moment) const
{
    return m_locale.toString(moment.toTimeZone(m_zone).date(), mediumDateFormat(m_locale));
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
