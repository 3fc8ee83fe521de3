#include "ReviewTranscript.hpp"

#include "ReviewTexts.hpp"
#include "display/DisplayFormats.hpp"
#include "theme/ThemePalette.hpp"

#include <QDeadlineTimer>
#include <limits>

namespace lumora {

int ReviewTranscript::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_shown);
}

QVariant ReviewTranscript::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ConversationTurn& turn = m_turns.at(index.row());
    const QString interjectionName = seatName(ReviewTexts::otherSeat(turn.speaker));
    switch (role) {
    case RowIDRole:
        return int(std::clamp<qint64>(
            DisplayFormats::rowID(turn), std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    case IsLeftSeatRole:
        return turn.speaker == 0;
    case NameRole:
        return seatName(ReviewTexts::seat(turn.speaker));
    case ParagraphRole:
        // Interjections are drawn in the other seat's colour.
        return ReviewTexts::paragraph(turn, interjectionName,
            turn.speaker == 0 ? ThemePalette::information() : ThemePalette::positive());
    case AccessibleTextRole:
        return seatName(ReviewTexts::seat(turn.speaker)) + QStringLiteral(": ")
            + ReviewTexts::plainParagraph(turn, interjectionName);
    default:
        return {};
    }
}

QHash<int, QByteArray> ReviewTranscript::roleNames() const
{
    return {
        { RowIDRole, "rowID" },
        { IsLeftSeatRole, "isLeftSeat" },
        { NameRole, "name" },
        { ParagraphRole, "paragraph" },
        { AccessibleTextRole, "accessibleText" },
    };
}

void ReviewTranscript::reset(QList<ConversationTurn> turns, QStringList seatNames)
{
    const bool hadMore = hasMore();
    beginResetModel();
    m_turns = std::move(turns);
    m_seatNames = std::move(seatNames);
    m_shown = std::min<qsizetype>(m_turns.size(), firstRows);
    endResetModel();
    if (hadMore != hasMore())
        emit hasMoreChanged();
}

void ReviewTranscript::setSeatNames(QStringList seatNames)
{
    if (seatNames == m_seatNames)
        return;
    m_seatNames = std::move(seatNames);
    if (m_shown > 0)
        emit dataChanged(index(0), index(int(m_shown) - 1), { NameRole, ParagraphRole, AccessibleTextRole });
}

void ReviewTranscript::showMoreFor(std::chrono::milliseconds time)
{
    if (!hasMore())
        return;
    const QDeadlineTimer deadline(time, Qt::PreciseTimer);
    do {
        beginInsertRows({}, int(m_shown), int(m_shown));
        ++m_shown;
        endInsertRows();
    } while (hasMore() && !deadline.hasExpired());
    if (!hasMore())
        emit hasMoreChanged();
}

QString ReviewTranscript::seatName(int seat) const
{
    return m_seatNames.value(seat);
}

} // namespace lumora
