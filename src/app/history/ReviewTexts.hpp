#pragma once

#include "HistoryEntryList.hpp"
#include "ReviewRows.hpp"
#include "display/DateTexts.hpp"
#include "domain/ConversationTurn.hpp"
#include "domain/DerivedSessionResult.hpp"
#include "domain/SpeakerStats.hpp"

#include <QColor>
#include <QList>
#include <QString>
#include <optional>

namespace lumora {

// The rules of the review sheet: its header, what the observer card lists, the floor bar's
// legend, the transcript's paragraphs and the lifecycle card's sentence. Stored reviews come
// from files and the account, partly from the partner's computer: every number is checked
// before it is converted, so any review draws.
struct ReviewTexts {
    // How the conversation opened, when the analysis said.
    enum class Startup { Unknown, InTheCycle, FromASecurePlace };

    static QString title(bool isCheckin);
    // The moment in the locale's short numeric date and time, " · " and the clock.
    static QString subtitle(const DerivedSessionResult& result, const DateTexts& dates);

    // "Speaker N · P%" per seat in stored order, with the fraction of the strip it fills.
    static QList<FloorSegment> floor(const QList<SpeakerStats>& stats);
    // "Speaker N", "T turns" and the longest turn's clock " longest", per seat.
    static QList<ShapeRow> shape(const QList<SpeakerStats>& stats);
    // The behaviours in their own order, then the fouls, each seen at least once at the
    // confidence floor.
    static QList<DefinitionRow> definitions(const DerivedSessionResult& result);
    static Startup startup(const DerivedSessionResult& result);
    static QString startupText(Startup startup);
    static QString lifecycleText(HistoryEntryList::Backup backup);
    // What became of the recording, and whether the careful second read made the review.
    static QString recordingText(bool fromLiveTranscript);
    static QString partnerAskedNote();

    // "Speaker " and the speaker index + 1, the index kept in range.
    static QString speakerLabel(qint64 speaker);

    // The seat of a speaker index (its remainder by 2, without sign) and the other one.
    static int seat(qint64 speaker);
    static int otherSeat(qint64 speaker) { return 1 - seat(speaker); }
    // A turn's pieces as one paragraph: each piece trimmed, empty ones left out, joined by one
    // space; interjections as `interjectionName: “text”` in small italics in
    // `interjectionColour`. Rich text in which every word of the data is escaped.
    static QString paragraph(
        const ConversationTurn& turn, const QString& interjectionName, const QColor& interjectionColour);
    // The same paragraph as plain words, as a screen reader reads it.
    static QString plainParagraph(const ConversationTurn& turn, const QString& interjectionName);
};

} // namespace lumora
