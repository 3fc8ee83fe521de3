#include "LiveTurnList.hpp"

namespace lumora {

int LiveTurnList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant LiveTurnList::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const SpeakerTurn& turn = m_turns.at(index.row());
    switch (role) {
    case SpeakerRole:
        return int(turn.speaker);
    case StartRole:
        return turn.start;
    case EndRole:
        return turn.end;
    case TextRole:
        return turn.text;
    default:
        return {};
    }
}

QHash<int, QByteArray> LiveTurnList::roleNames() const
{
    return { { SpeakerRole, "speaker" }, { StartRole, "start" }, { EndRole, "end" }, { TextRole, "text" } };
}

void LiveTurnList::replace(const QList<SpeakerTurn>& turns)
{
    const qsizetype shown = m_turns.size();
    // The live transcript only ever grows while a conversation runs: the shown rows are the
    // start of the new list when its last shown utterance is still in place.
    const bool continues
        = turns.size() >= shown && (shown == 0 || turns.at(shown - 1) == m_turns.constLast());
    if (continues) {
        if (turns.size() == shown)
            return;
        beginInsertRows({}, int(shown), int(turns.size()) - 1);
        m_turns = turns;
        endInsertRows();
        emit countChanged();
        return;
    }
    if (shown > 0) {
        beginRemoveRows({}, 0, int(shown) - 1);
        m_turns.clear();
        endRemoveRows();
    }
    if (!turns.isEmpty()) {
        beginInsertRows({}, 0, int(turns.size()) - 1);
        m_turns = turns;
        endInsertRows();
    }
    emit countChanged();
}

} // namespace lumora
