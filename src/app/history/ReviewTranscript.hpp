#pragma once

#include "domain/ConversationTurn.hpp"

#include <QAbstractListModel>
#include <QList>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The paragraphs of a review's transcript: one row per grouped turn, headed by its seat's
// name, with the other seat's interjections inline. A long transcript comes out a page at a
// time, so the sheet draws its first frame without laying out every paragraph.
class ReviewTranscript : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The review sheet holds its transcript.")
    // Whether rows are still to come.
    Q_PROPERTY(bool hasMore READ hasMore NOTIFY hasMoreChanged)

public:
    enum Role {
        // int: the turn's identity (the turn index of its first piece).
        RowIDRole = Qt::UserRole + 1,
        // bool: speaker 0, whose paragraphs hug the leading edge in the left seat's colours.
        IsLeftSeatRole,
        // QString: the seat's name as the sheet shows it.
        NameRole,
        // QString: the paragraph as rich text, every word of it escaped.
        ParagraphRole,
        // QString: the paragraph as plain words.
        PlainParagraphRole,
    };
    Q_ENUM(Role)

    // Rows shown at first and added with each `showMore`.
    static constexpr int pageSize = 60;

    using QAbstractListModel::QAbstractListModel;

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    // A new transcript, its first page shown.
    void reset(QList<ConversationTurn> turns, QStringList seatNames);
    // The seat names changed: every row's name and interjections follow.
    void setSeatNames(QStringList seatNames);
    [[nodiscard]] bool hasMore() const { return m_shown < m_turns.size(); }
    // Adds the next page of rows.
    Q_INVOKABLE void showMore();

signals:
    void hasMoreChanged();

private:
    [[nodiscard]] QString seatName(int seat) const;

    QList<ConversationTurn> m_turns;
    QStringList m_seatNames;
    qsizetype m_shown = 0;
};

} // namespace lumora
