#pragma once

#include "domain/ConversationTurn.hpp"

#include <QAbstractListModel>
#include <QList>
#include <QStringList>
#include <QtQml/qqmlregistration.h>
#include <chrono>

namespace lumora {

// The paragraphs of a review's transcript: one row per grouped turn, headed by its seat's
// name, with the other seat's interjections inline. A long transcript comes out a few rows at a
// time, so the sheet draws its first frame without laying out every paragraph, and each later
// turn of the event loop lays out only as many as fit in a part of a frame.
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
        // QString: what a screen reader reads of the turn: the seat's name, ": " and the
        // paragraph as plain words.
        AccessibleTextRole,
    };
    Q_ENUM(Role)

    // Rows shown at first.
    static constexpr int firstRows = 8;

    using QAbstractListModel::QAbstractListModel;

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    // A new transcript, its first rows shown.
    void reset(QList<ConversationTurn> turns, QStringList seatNames);
    // The seat names changed: every row's name and interjections follow.
    void setSeatNames(QStringList seatNames);
    [[nodiscard]] bool hasMore() const { return m_shown < m_turns.size(); }
    // What one turn of the event loop spends adding rows: a share of a frame at 60 frames a
    // second, so that the frame that draws them still fits.
    static constexpr std::chrono::milliseconds shareOfAFrame { 6 };

    // Adds rows one at a time until `time` has passed since the call, at least one: a view makes
    // each row's delegate as the row is added, so the time bounds what it spends on them.
    void showMoreFor(std::chrono::milliseconds time);
    Q_INVOKABLE void showMore() { showMoreFor(shareOfAFrame); }

signals:
    void hasMoreChanged();

private:
    [[nodiscard]] QString seatName(int seat) const;

    QList<ConversationTurn> m_turns;
    QStringList m_seatNames;
    qsizetype m_shown = 0;
};

} // namespace lumora
