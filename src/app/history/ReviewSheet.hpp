#pragma once

#include "DeletionPrompt.hpp"
#include "HistoryEntryList.hpp"
#include "ReviewRows.hpp"
#include "ReviewTranscript.hpp"
#include "display/DateTexts.hpp"
#include "domain/ConversationHistoryEntry.hpp"
#include "domain/DerivedSessionResult.hpp"
#include "rooms/RoomMoments.hpp"

#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace lumora {

class HistoryModel;

// What the review sheet shows of the open review: the review and its history row as they were
// when it opened, the seat names and the deletion kind as they are now, the note after a
// deletion went to the partner, and whether the history still lists the conversation (once it
// does not, it is gone: deleted, by the partner's approval too, or hidden on another computer,
// and the sheet offers nothing more on it). Empty while no review is open.
class ReviewSheet : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The history model holds the review sheet.")
    Q_PROPERTY(bool isOpen READ isOpen NOTIFY reviewChanged)
    Q_PROPERTY(bool isCheckin READ isCheckin NOTIFY reviewChanged)
    Q_PROPERTY(QString title READ title NOTIFY reviewChanged)
    Q_PROPERTY(QString subtitle READ subtitle NOTIFY reviewChanged)
    Q_PROPERTY(QString checkinLabel READ checkinLabel NOTIFY reviewChanged)
    Q_PROPERTY(QString summary READ summary NOTIFY reviewChanged)
    Q_PROPERTY(QList<lumora::FloorSegment> floor READ floor NOTIFY reviewChanged)
    Q_PROPERTY(QList<lumora::ShapeRow> shape READ shape NOTIFY reviewChanged)
    Q_PROPERTY(QList<lumora::DefinitionRow> definitions READ definitions NOTIFY reviewChanged)
    Q_PROPERTY(QString warm READ warm NOTIFY reviewChanged)
    Q_PROPERTY(QString hard READ hard NOTIFY reviewChanged)
    // Empty when the analysis did not say how it opened.
    Q_PROPERTY(QString startup READ startup NOTIFY reviewChanged)
    Q_PROPERTY(bool startupInTheCycle READ startupInTheCycle NOTIFY reviewChanged)
    Q_PROPERTY(double duration READ duration NOTIFY reviewChanged)
    // Both seats' moments, which the arc is drawn from.
    Q_PROPERTY(lumora::RoomMoments moments READ moments NOTIFY reviewChanged)
    Q_PROPERTY(bool hasTranscript READ hasTranscript NOTIFY reviewChanged)
    Q_PROPERTY(lumora::ReviewTranscript* transcript READ transcript CONSTANT)
    Q_PROPERTY(lumora::HistoryEntryList::Backup backup READ backup NOTIFY reviewChanged)
    Q_PROPERTY(bool isFromEarlierHistory READ isFromEarlierHistory NOTIFY reviewChanged)
    Q_PROPERTY(QString recording READ recording NOTIFY reviewChanged)
    Q_PROPERTY(QString lifecycle READ lifecycle NOTIFY reviewChanged)
    Q_PROPERTY(bool hasPendingDeletion READ hasPendingDeletion NOTIFY reviewChanged)
    Q_PROPERTY(bool deletionRequestedByMe READ deletionRequestedByMe NOTIFY reviewChanged)
    // The words of deleting it, as what deleting it does now has them.
    Q_PROPERTY(lumora::DeletionPrompt deletion READ deletion NOTIFY deletionKindChanged)
    // Set once a deletion request went to the partner, until the sheet closes.
    Q_PROPERTY(QString deletionNote READ deletionNote NOTIFY deletionNoteChanged)
    // The history no longer lists the conversation; `goneNote` says so.
    Q_PROPERTY(bool isGone READ isGone NOTIFY goneChanged)
    Q_PROPERTY(QString goneNote READ goneNote CONSTANT)

public:
    explicit ReviewSheet(HistoryModel& model);

    [[nodiscard]] bool isOpen() const { return m_result.has_value(); }
    [[nodiscard]] bool isCheckin() const { return m_entry.isCheckin(); }
    [[nodiscard]] QString title() const;
    [[nodiscard]] QString subtitle() const;
    [[nodiscard]] QString checkinLabel() const;
    [[nodiscard]] QString summary() const;
    [[nodiscard]] QList<FloorSegment> floor() const;
    [[nodiscard]] QList<ShapeRow> shape() const;
    [[nodiscard]] QList<DefinitionRow> definitions() const;
    [[nodiscard]] QString warm() const;
    [[nodiscard]] QString hard() const;
    [[nodiscard]] QString startup() const;
    [[nodiscard]] bool startupInTheCycle() const;
    [[nodiscard]] double duration() const;
    [[nodiscard]] RoomMoments moments() const;
    [[nodiscard]] bool hasTranscript() const
    {
        return m_transcript->hasMore() || m_transcript->rowCount() > 0;
    }
    [[nodiscard]] ReviewTranscript* transcript() const { return m_transcript; }
    [[nodiscard]] HistoryEntryList::Backup backup() const;
    [[nodiscard]] bool isFromEarlierHistory() const { return m_entry.isFromEarlierHistory(); }
    [[nodiscard]] QString recording() const;
    [[nodiscard]] QString lifecycle() const;
    [[nodiscard]] bool hasPendingDeletion() const { return m_entry.pendingDeletion.has_value(); }
    [[nodiscard]] bool deletionRequestedByMe() const
    {
        return m_entry.pendingDeletion && m_entry.pendingDeletion->requestedByMe;
    }
    [[nodiscard]] DeletionPrompt deletion() const;
    [[nodiscard]] const QString& deletionNote() const { return m_deletionNote; }
    [[nodiscard]] bool isGone() const { return m_gone; }
    [[nodiscard]] static QString goneNote();

    [[nodiscard]] const ConversationHistoryEntry& entry() const { return m_entry; }
    [[nodiscard]] const std::optional<DerivedSessionResult>& result() const { return m_result; }

    // Shows this review of this row, or nothing; the note goes with the review it was for.
    void show(ConversationHistoryEntry entry, std::optional<DerivedSessionResult> result);
    void setDeletionNote(QString note);
    // Takes in the republished history: the open conversation is gone while no row of it, by
    // its id or its review's, is listed.
    void follow(const QList<ConversationHistoryEntry>& entries);
    void setDateTexts(const DateTexts& dates);

signals:
    void reviewChanged();
    void deletionKindChanged();
    void deletionNoteChanged();
    void goneChanged();

private:
    [[nodiscard]] QStringList seatNames() const;
    void setGone(bool gone);

    HistoryModel& m_model;
    ConversationHistoryEntry m_entry;
    std::optional<DerivedSessionResult> m_result;
    ReviewTranscript* m_transcript;
    DateTexts m_dates = DateTexts::system();
    QString m_deletionNote;
    bool m_gone = false;
};

} // namespace lumora
