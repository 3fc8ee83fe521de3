#include "TranscriptRows.hpp"

#include "TranscriptChipValue.hpp"
#include "TranscriptTurnText.hpp"
#include "display/DisplayFormats.hpp"
#include "domain/BehaviorCode.hpp"
#include "domain/ProcessFoul.hpp"
#include "domain/Seat.hpp"

#include <QSet>
#include <algorithm>

namespace lumora {

namespace {

QSet<qint64> turnIndexesOf(const ConversationTurn& group)
{
    QSet<qint64> indexes;
    indexes.reserve(group.pieces.size());
    for (const ConversationTurnPiece& piece : group.pieces)
        indexes.insert(piece.turnIndex);
    return indexes;
}

template <typename Finding>
QList<Finding> findingsOf(const QList<Finding>& all, const ConversationTurn& group)
{
    const QSet<qint64> indexes = turnIndexesOf(group);
    QList<Finding> found;
    for (const Finding& finding : all) {
        if (indexes.contains(finding.turnIndex))
            found.append(finding);
    }
    return found;
}

// The utterances whose findings may differ between two lists of findings: those of the findings
// between the two lists' common start and common end. A row holding none of them has the same
// findings in both, in the same order.
template <typename Finding>
QSet<qint64> changedTurnsOf(const QList<Finding>& before, const QList<Finding>& after)
{
    qsizetype start = 0;
    while (start < before.size() && start < after.size() && before.at(start) == after.at(start))
        ++start;
    qsizetype end = 0;
    while (end < before.size() - start && end < after.size() - start
        && before.at(before.size() - 1 - end) == after.at(after.size() - 1 - end))
        ++end;
    QSet<qint64> turns;
    for (qsizetype at = start; at < before.size() - end; ++at)
        turns.insert(before.at(at).turnIndex);
    for (qsizetype at = start; at < after.size() - end; ++at)
        turns.insert(after.at(at).turnIndex);
    return turns;
}

} // namespace

int TranscriptRows::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QHash<int, QByteArray> TranscriptRows::roleNames() const
{
    return {
        { RowKeyRole, "rowKey" },
        { RowIDRole, "rowID" },
        { DisplaySideRole, "displaySide" },
        { NameRole, "name" },
        { NameCaptionRole, "nameCaption" },
        { ClockRole, "clock" },
        { ParagraphRole, "paragraph" },
        { AccessibleTextRole, "accessibleText" },
        { WashRole, "wash" },
        { BehaviorChipsRole, "behaviorChips" },
        { FoulChipsRole, "foulChips" },
    };
}

QVariant TranscriptRows::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ConversationTurn& group = m_groups.at(index.row());
    const int side = displaySideOf(group);
    switch (role) {
    case RowKeyRole:
        return index.row();
    case RowIDRole:
        return double(DisplayFormats::rowID(group));
    case DisplaySideRole:
        return side;
    case NameRole:
        return nameOf(side);
    case NameCaptionRole:
        return nameOf(side).toUpper();
    case ClockRole:
        return DisplayFormats::clock(group.start);
    case ParagraphRole:
        return TranscriptTurnText::paragraph(group, nameOf(1 - side), side);
    case AccessibleTextRole:
        return nameOf(side) + QStringLiteral(": ")
            + TranscriptTurnText::spokenParagraph(group, nameOf(1 - side));
    case WashRole:
        switch (TranscriptTurnText::wash(annotationsOf(group))) {
        case TranscriptTurnText::Wash::warm:
            return WarmWash;
        case TranscriptTurnText::Wash::hard:
            return HardWash;
        case TranscriptTurnText::Wash::none:
            break;
        }
        return NoWash;
    case BehaviorChipsRole: {
        QList<TranscriptChipValue> chips;
        for (const BehaviorAnnotation& annotation : annotationsOf(group))
            chips.append({ toString(annotation.code), annotation.confidence });
        return QVariant::fromValue(chips);
    }
    case FoulChipsRole: {
        QList<TranscriptChipValue> chips;
        for (const ProcessFoulAnnotation& foul : foulsOf(group))
            chips.append({ toString(foul.foul), foul.confidence });
        return QVariant::fromValue(chips);
    }
    default:
        return {};
    }
}

QList<BehaviorAnnotation> TranscriptRows::annotationsOf(const ConversationTurn& group) const
{
    return findingsOf(m_annotations, group);
}

QList<ProcessFoulAnnotation> TranscriptRows::foulsOf(const ConversationTurn& group) const
{
    return findingsOf(m_fouls, group);
}

void TranscriptRows::setGroups(const QList<ConversationTurn>& groups)
{
    const qsizetype shown = m_groups.size();
    const qsizetype wanted = groups.size();
    // Grouping folds from the start, so a new utterance changes at most the last rows: the
    // rows up to the last one that is still equal are taken as unchanged. A transcript that
    // starts over differs in its first row already.
    qsizetype kept = std::min(shown, wanted);
    while (kept > 0 && !(m_groups.at(kept - 1) == groups.at(kept - 1)))
        --kept;
    if (kept > 0 && !(m_groups.constFirst() == groups.constFirst()))
        kept = 0;

    if (wanted < shown) {
        beginRemoveRows({}, int(wanted), int(shown) - 1);
        m_groups.resize(wanted);
        endRemoveRows();
    }
    const qsizetype overlap = std::min(shown, wanted);
    if (kept < overlap) {
        for (qsizetype row = kept; row < overlap; ++row)
            m_groups[row] = groups.at(row);
        emit dataChanged(index(int(kept)), index(int(overlap) - 1));
    }
    if (wanted > shown) {
        beginInsertRows({}, int(shown), int(wanted) - 1);
        m_groups = groups;
        endInsertRows();
    } else {
        m_groups = groups;
    }
    if (wanted != shown)
        emit countChanged();
}

void TranscriptRows::setFindings(
    const QList<BehaviorAnnotation>& annotations, const QList<ProcessFoulAnnotation>& fouls)
{
    if (m_annotations == annotations && m_fouls == fouls)
        return;
    // A new analysis mostly adds findings to the newest rows: only the rows it may have changed
    // are told, so a view keeps the chips of every other row.
    const QSet<qint64> turns = changedTurnsOf(m_annotations, annotations) + changedTurnsOf(m_fouls, fouls);
    m_annotations = annotations;
    m_fouls = fouls;
    const auto changed = [&](qsizetype row) {
        return std::ranges::any_of(m_groups.at(row).pieces,
            [&](const ConversationTurnPiece& piece) { return turns.contains(piece.turnIndex); });
    };
    for (qsizetype first = 0; first < m_groups.size(); ++first) {
        if (!changed(first))
            continue;
        qsizetype last = first;
        while (last + 1 < m_groups.size() && changed(last + 1))
            ++last;
        emit dataChanged(index(int(first)), index(int(last)), { WashRole, BehaviorChipsRole, FoulChipsRole });
        first = last;
    }
}

void TranscriptRows::setNames(const QStringList& names)
{
    QStringList both = names.mid(0, 2);
    while (both.size() < 2)
        both.append(QString());
    if (both == m_names)
        return;
    m_names = both;
    changeAll({ NameRole, NameCaptionRole, ParagraphRole, AccessibleTextRole });
}

void TranscriptRows::setSidesSwapped(bool swapped)
{
    if (swapped == m_sidesSwapped)
        return;
    m_sidesSwapped = swapped;
    changeAll({ DisplaySideRole, NameRole, NameCaptionRole, ParagraphRole, AccessibleTextRole });
}

void TranscriptRows::changeAll(const QList<int>& roles)
{
    if (!m_groups.isEmpty())
        emit dataChanged(index(0), index(count() - 1), roles);
}

int TranscriptRows::displaySideOf(const ConversationTurn& group) const
{
    const int seat = int(seatOf(group.speaker));
    return m_sidesSwapped ? 1 - seat : seat;
}

QString TranscriptRows::nameOf(int displaySide) const
{
    return m_names.value(displaySide);
}

} // namespace lumora
