#pragma once

#include "TranscriptRows.hpp"

#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The check-in's transcript: the conversation transcript's rows (appended as turns are
// grouped, keyed by index, named by seat under the side swap) with the check-in's plain
// paragraph, and the name coloured by the speaker as the service numbered it: the first voice
// positive, any other information, whichever side it sits on.
// (The base is named with its namespace so that the QML tools find its properties.)
class CheckinTranscriptRows : public lumora::TranscriptRows {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The check-in room's state holds its transcript rows.")

public:
    enum Role {
        // QColor: the colour of the row's name.
        NameColourRole = FoulChipsRole + 1,
    };
    Q_ENUM(Role)

    using TranscriptRows::TranscriptRows;

    // ParagraphRole is the plain paragraph (see CheckinPanelTexts::paragraph), and
    // AccessibleTextRole the name, ": " and that paragraph.
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    // The names of seat 0 and seat 1 as stored, before any swap.
    void setSeatNames(const QStringList& names);

private:
    QStringList m_seatNames;
};

} // namespace lumora
