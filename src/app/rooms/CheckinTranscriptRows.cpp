#include "CheckinTranscriptRows.hpp"

#include "CheckinPanelTexts.hpp"
#include "TranscriptTurnText.hpp"

namespace lumora {

QHash<int, QByteArray> CheckinTranscriptRows::roleNames() const
{
    QHash<int, QByteArray> names = TranscriptRows::roleNames();
    names.insert(NameColourRole, "nameColour");
    return names;
}

QVariant CheckinTranscriptRows::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ConversationTurn& group = groups().at(index.row());
    switch (role) {
    case NameColourRole:
        return TranscriptTurnText::sideColour(group.speaker == 0 ? 0 : 1);
    case ParagraphRole:
    case AccessibleTextRole: {
        // The other seat's name under the same swap as the row's own.
        const int side = TranscriptRows::data(index, DisplaySideRole).toInt();
        const QString paragraph = CheckinPanelTexts::paragraph(group, m_seatNames.value(1 - side));
        if (role == ParagraphRole)
            return paragraph;
        return TranscriptRows::data(index, NameRole).toString() + QStringLiteral(": ") + paragraph;
    }
    default:
        return TranscriptRows::data(index, role);
    }
}

void CheckinTranscriptRows::setSeatNames(const QStringList& names)
{
    m_seatNames = names;
    setNames(names);
}

} // namespace lumora
