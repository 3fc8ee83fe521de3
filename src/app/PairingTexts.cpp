#include "PairingTexts.hpp"

#include "domain/UnixSeconds.hpp"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

namespace lumora {

QDateTime PairingTexts::moment(qint64 seconds) const
{
    return dateFromUnixSeconds(seconds).toTimeZone(m_zone);
}

QString PairingTexts::mediumDateFormat(const QLocale& locale)
{
    // The long form without its weekday (and the separator that joins it), with short month
    // names: the medium form Qt does not offer ("MMM d, yyyy", "d MMM yyyy", "yyyy年M月d日").
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*|[,.]?\\s*d{4}"));
    QString format = locale.dateFormat(QLocale::LongFormat);
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

QString PairingTexts::date(qint64 seconds) const
{
    return m_locale.toString(moment(seconds).date(), mediumDateFormat(m_locale));
}

QString PairingTexts::time(qint64 seconds) const
{
    // Some locales (the C locale among them) keep the seconds in their short format.
    static const QRegularExpression secondsField(QStringLiteral("[:.]?s+"));
    QString format = m_locale.timeFormat(QLocale::ShortFormat);
    format.remove(secondsField);
    return m_locale.toString(moment(seconds).time(), format.trimmed());
}

QString PairingTexts::dateAndTime(qint64 seconds) const
{
    return date(seconds) + QStringLiteral(" at ") + time(seconds);
}

QString PairingTexts::linkedSince(const PairingWorkspace& workspace) const
{
    const QString people = QString::number(workspace.memberCount) + QStringLiteral(" people");
    if (!workspace.linkedAt)
        return people;
    return QStringLiteral("Linked since ") + date(*workspace.linkedAt) + QStringLiteral(" \u00b7 ") + people;
}

QString PairingTexts::sharedHistorySentence(const PairingHistorySummary& history) const
{
    if (history.conversationCount < 1 || !history.earliestStartedAt)
        return QStringLiteral(
            "Your partner has no conversations stored yet, so from here you build one history together.");
    const QString earliest = date(*history.earliestStartedAt);
    if (history.conversationCount == 1)
        return QStringLiteral("You\u2019ll share a history with one conversation, from ") + earliest
            + QLatin1Char('.');
    const QString latest = date(history.latestStartedAt.value_or(*history.earliestStartedAt));
    return QStringLiteral("You\u2019ll share a history with %1 conversations, from %2 to %3.")
        .arg(QString::number(history.conversationCount), earliest, latest);
}

std::optional<QString> PairingTexts::earlierHistoryNote(const std::optional<PairingState>& pairing)
{
    const qint64 count = pairing ? pairing->conversationsInPreviousWorkspaces() : 0;
    if (count < 1)
        return std::nullopt;
    const QString conversations = count == 1 ? QStringLiteral("one conversation")
                                             : QString::number(count) + QStringLiteral(" conversations");
    return QStringLiteral("You also have ") + conversations
        + QStringLiteral(" from before. They stay yours to read, and nothing new is added to them.");
}

QString PairingTexts::codeAccessibleName(const QString& code)
{
    // By user-perceived character, so that an accented letter or an emoji stays whole.
    QStringList characters;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, code);
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        characters.append(code.sliced(start, finder.position() - start));
        start = finder.position();
    }
    return QStringLiteral("Pairing code ") + characters.join(QLatin1Char(' '));
}

} // namespace lumora
