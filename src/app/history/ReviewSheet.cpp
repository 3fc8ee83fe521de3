#include "ReviewSheet.hpp"

#include "HistoryModel.hpp"
#include "HistoryTexts.hpp"
#include "ReviewTexts.hpp"
#include "domain/TurnGrouping.hpp"

#include <algorithm>

namespace lumora {

ReviewSheet::ReviewSheet(HistoryModel& model)
    : QObject(&model)
    , m_model(model)
    , m_transcript(new ReviewTranscript(this))
{
    connect(&m_model, &HistoryModel::deletionKindsChanged, this, &ReviewSheet::deletionKindChanged);
    connect(&m_model, &HistoryModel::participantNamesChanged, this,
        [this] { m_transcript->setSeatNames(seatNames()); });
}

QStringList ReviewSheet::seatNames() const
{
    return { m_model.participantName(0), m_model.participantName(1) };
}

void ReviewSheet::show(ConversationHistoryEntry entry, std::optional<DerivedSessionResult> result)
{
    m_entry = std::move(entry);
    m_result = std::move(result);
    QList<ConversationTurn> turns;
    if (m_result && m_result->transcript)
        turns = TurnGrouping::group(*m_result->transcript);
    m_transcript->reset(std::move(turns), seatNames());
    setDeletionNote(QString());
    setGone(false);
    // The words of deleting it first: the sheet opens on the review's change, and is laid out
    // at the width of the words it opens with.
    emit deletionKindChanged();
    emit reviewChanged();
}

void ReviewSheet::setDeletionNote(QString note)
{
    if (note == m_deletionNote)
        return;
    m_deletionNote = std::move(note);
    emit deletionNoteChanged();
}

QString ReviewSheet::goneNote()
{
    return QStringLiteral(
        "This conversation is no longer in your history. It was deleted, or hidden on another of your "
        "computers.");
}

void ReviewSheet::follow(const QList<ConversationHistoryEntry>& entries)
{
    if (!isOpen())
        return;
    const bool listed = std::ranges::any_of(entries, [this](const ConversationHistoryEntry& row) {
        return row.id == m_entry.id || (m_entry.localID && row.localID == m_entry.localID);
    });
    setGone(!listed);
}

void ReviewSheet::setGone(bool gone)
{
    if (gone == m_gone)
        return;
    m_gone = gone;
    // Nothing waits on a conversation that is gone.
    if (gone)
        setDeletionNote(QString());
    emit goneChanged();
}

void ReviewSheet::setDateTexts(const DateTexts& dates)
{
    m_dates = dates;
    emit reviewChanged();
}

QString ReviewSheet::title() const
{
    return ReviewTexts::title(isCheckin());
}

QString ReviewSheet::subtitle() const
{
    return m_result ? ReviewTexts::subtitle(*m_result, m_dates) : QString();
}

QString ReviewSheet::checkinLabel() const
{
    return HistoryTexts::checkinLabel(m_entry.completedAt, m_dates.locale());
}

QString ReviewSheet::summary() const
{
    return m_result ? m_result->summary : QString();
}

QList<FloorSegment> ReviewSheet::floor() const
{
    return m_result ? ReviewTexts::floor(m_result->stats) : QList<FloorSegment> {};
}

QList<ShapeRow> ReviewSheet::shape() const
{
    return m_result ? ReviewTexts::shape(m_result->stats) : QList<ShapeRow> {};
}

QList<DefinitionRow> ReviewSheet::definitions() const
{
    return m_result ? ReviewTexts::definitions(*m_result) : QList<DefinitionRow> {};
}

namespace {

// Both partners' moments, for a conversation (a check-in has none to show).
ConversationPresentation::WarmHard everyonesMoments(
    const ConversationHistoryEntry& entry, const std::optional<DerivedSessionResult>& result)
{
    return HistoryTexts::tally(entry, result ? &*result : nullptr)
        .value_or(ConversationPresentation::WarmHard {});
}

} // namespace

QString ReviewSheet::warm() const
{
    return HistoryTexts::warmText(everyonesMoments(m_entry, m_result).warm);
}

QString ReviewSheet::hard() const
{
    return HistoryTexts::hardText(everyonesMoments(m_entry, m_result).hard);
}

QString ReviewSheet::startup() const
{
    return m_result ? ReviewTexts::startupText(ReviewTexts::startup(*m_result)) : QString();
}

bool ReviewSheet::startupInTheCycle() const
{
    return m_result && ReviewTexts::startup(*m_result) == ReviewTexts::Startup::InTheCycle;
}

double ReviewSheet::duration() const
{
    return m_result ? m_result->duration : 0;
}

RoomMoments ReviewSheet::moments() const
{
    if (!m_result)
        return {};
    return { m_result->annotations, m_result->fouls.value_or(QList<ProcessFoulAnnotation>()) };
}

HistoryEntryList::Backup ReviewSheet::backup() const
{
    return HistoryEntryList::backupOf(m_entry.backup);
}

QString ReviewSheet::recording() const
{
    return ReviewTexts::recordingText(m_result && m_result->fromLiveTranscript);
}

QString ReviewSheet::lifecycle() const
{
    return ReviewTexts::lifecycleText(backup());
}

DeletionPrompt ReviewSheet::deletion() const
{
    return HistoryTexts::deletionPrompt(
        isOpen() ? m_model.deletionKind(m_entry.id.toString(QUuid::WithoutBraces)) : HistoryModel::Immediate);
}

} // namespace lumora
