#pragma once

#include "domain/SpeakerTurn.hpp"

#include <QAbstractListModel>
#include <QList>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The live transcript as the speech service settled it, one row per utterance in spoken
// order. Rows are keyed by their index: a new utterance appends a row, so views keep their
// delegates; only a transcript that starts over (a new conversation) removes the rows.
class LiveTurnList : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The room model holds the live transcript.")
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        // int: the diarized speaker index as the service gave it (0 the first voice heard).
        SpeakerRole = Qt::UserRole + 1,
        // double: seconds from the start of the recording.
        StartRole,
        EndRole,
        // QString: the words as transcribed.
        TextRole,
    };
    Q_ENUM(Role)

    using QAbstractListModel::QAbstractListModel;

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    [[nodiscard]] int count() const { return int(m_turns.size()); }
    [[nodiscard]] const QList<SpeakerTurn>& turns() const { return m_turns; }
    // Takes the newly published transcript: appended utterances become new rows, a transcript
    // that does not continue the shown one replaces its rows.
    void replace(const QList<SpeakerTurn>& turns);

signals:
    void countChanged();

private:
    QList<SpeakerTurn> m_turns;
};

} // namespace lumora
