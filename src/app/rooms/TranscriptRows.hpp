#pragma once

#include "domain/BehaviorAnnotation.hpp"
#include "domain/ConversationTurn.hpp"
#include "domain/ProcessFoulAnnotation.hpp"

#include <QAbstractListModel>
#include <QList>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The transcript's rows: one grouped turn of one seat each, oldest first, with its findings
// and the names and side it is shown with. Rows are keyed by their index. A new grouping is
// compared with the shown one from the end, so that a new utterance inserts or changes the last
// rows only and views keep every other delegate; new findings change the rows they may be on,
// and names and sides change every row in place.
class TranscriptRows : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The room's state holds the transcript rows.")
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        // int: the row's index, its key.
        RowKeyRole = Qt::UserRole + 1,
        // double: the turn index of the first piece, -1 without pieces (it can repeat).
        RowIDRole,
        // int: 0 when the row is drawn on the left, 1 on the right (sides swapped already).
        DisplaySideRole,
        // QString: the speaking side's name, and the same in capitals for the row's caption.
        NameRole,
        NameCaptionRole,
        // QString: minutes and seconds of the turn's start.
        ClockRole,
        // QString: the paragraph as styled text (see TranscriptTurnText::paragraph).
        ParagraphRole,
        // QString: the name, ": " and the paragraph as a screen reader says it.
        AccessibleTextRole,
        // Wash: the row's tint.
        WashRole,
        // QList<TranscriptChipValue> (`list<transcriptChip>`): the annotations, and the fouls,
        // on the row's pieces, each in its own list's order; a row draws the annotations' chips
        // first.
        BehaviorChipsRole,
        FoulChipsRole,
    };
    Q_ENUM(Role)
    enum Wash { NoWash, WarmWash, HardWash };
    Q_ENUM(Wash)

    using QAbstractListModel::QAbstractListModel;

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    [[nodiscard]] int count() const { return int(m_groups.size()); }
    [[nodiscard]] const QList<ConversationTurn>& groups() const { return m_groups; }
    // The findings of the rows' turns, and the annotations and fouls of one row.
    [[nodiscard]] QList<BehaviorAnnotation> annotationsOf(const ConversationTurn& group) const;
    [[nodiscard]] QList<ProcessFoulAnnotation> foulsOf(const ConversationTurn& group) const;

    // Takes a new grouping of the transcript; the rows before the first that differs, found
    // from the end, stay as they are.
    void setGroups(const QList<ConversationTurn>& groups);
    void setFindings(const QList<BehaviorAnnotation>& annotations, const QList<ProcessFoulAnnotation>& fouls);
    // The names of the left and the right display side, and whether the sides are swapped.
    void setNames(const QStringList& names);
    void setSidesSwapped(bool swapped);

signals:
    void countChanged();

private:
    // Every row's data of these roles changed.
    void changeAll(const QList<int>& roles);
    [[nodiscard]] int displaySideOf(const ConversationTurn& group) const;
    [[nodiscard]] QString nameOf(int displaySide) const;

    QList<ConversationTurn> m_groups;
    QList<BehaviorAnnotation> m_annotations;
    QList<ProcessFoulAnnotation> m_fouls;
    QStringList m_names { QString(), QString() };
    bool m_sidesSwapped = false;
};

} // namespace lumora
