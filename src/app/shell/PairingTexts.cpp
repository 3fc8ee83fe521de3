#include "PairingTexts.hpp"

#include <QTextBoundaryFinder>

namespace lumora {

QString PairingTexts::linkedSince(const PairingWorkspace& workspace) const
{
    const QString people = QString::number(workspace.memberCount) + QStringLiteral(" people");
    if (!workspace.linkedAt)
        return people;
    return QStringLiteral("Linked since ") + m_dates.date(*workspace.linkedAt) + QStringLiteral(" \u00b7 ")
        + people;
}

QString PairingTexts::sharedHistorySentence(const PairingHistorySummary& history) const
{
    if (history.conversationCount < 1 || !history.earliestStartedAt)
        return QStringLiteral(
            "Your partner has no conversations stored yet, so from here you build one history together.");
    const QString earliest = m_dates.date(*history.earliestStartedAt);
    if (history.conversationCount == 1)
        return QStringLiteral("You\u2019ll share a history with one conversation, from ") + earliest
            + QLatin1Char('.');
    const QString latest = m_dates.date(history.latestStartedAt.value_or(*history.earliestStartedAt));
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
