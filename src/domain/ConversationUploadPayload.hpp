#pragma once

#include "domain/ConversationAnalysisPayload.hpp"
#include "domain/ConversationMode.hpp"
#include "domain/ConversationTranscriptPayload.hpp"
#include "domain/JsonDecodeError.hpp"

#include <QJsonObject>
#include <QUuid>
#include <expected>
#include <optional>

namespace lumora {

struct DerivedSessionResult;

// The document the account history keeps for one finished conversation: the upload body
// and the "content" of a fetched conversation. A partner's device wrote it, so a reader takes
// only what this application writes itself (see fromJson): whoever shows a document that reads
// finds bounded texts without control or format characters, and times and counts in range.
struct ConversationUploadPayload {
    static constexpr qint64 maximumBodyBytes = 1'048'576;
    static constexpr qsizetype maximumTitleCharacters = 200;
    static constexpr qint64 maximumDurationSeconds = 86'400;
    // How far past the whole seconds of its length a segment may end: the length is rounded,
    // and the turns heard live keep the speech stream's clock, not the recording's.
    static constexpr qint64 segmentMarginSeconds = 5;
    // From start to end: what a computer asleep in the middle of a conversation may add to it.
    static constexpr qint64 maximumSpanSeconds = 7 * 86'400;
    // UTF-16 units: four for each of the title's characters (a flag, an emoji with its skin
    // tone), some five times the longest summary the analysis gives, and a quarter of an
    // hour's talk without a pause in one segment.
    static constexpr qsizetype maximumTitleUnits = 4 * maximumTitleCharacters;
    static constexpr qsizetype maximumSummaryUnits = 5000;
    static constexpr qsizetype maximumTextUnits = 20'000;

    // The conversation's identifier in the account, not the review's local id.
    QUuid conversationID;
    ConversationMode mode = ConversationMode::conversation;
    // Whole seconds since 1970; at least 1 in documents built here.
    qint64 startedAt = 1;
    qint64 endedAt = 0;
    qint64 durationSeconds = 0;
    // Never empty, at most 200 user-perceived characters in documents built here.
    std::optional<QString> title;
    ConversationTranscriptPayload transcript;
    // Always present in documents built here; optional when read.
    std::optional<ConversationAnalysisPayload> analysis;

    bool operator==(const ConversationUploadPayload&) const = default;

    // A review's length as the account keeps it: whole seconds, halves away from zero, within
    // 0...one day; a length that is not a number counts as 0. Every length shown is this one,
    // so that the recorder's computer and the partner's read the same.
    static qint64 wholeDurationSeconds(double duration);

    // The document of a review, within the bounds a reader takes (see bounded).
    static ConversationUploadPayload fromResult(
        const DerivedSessionResult& result, const QUuid& conversationID);

    // The same document brought within what a reader takes: texts cleaned and cut, times,
    // counts and shares within their ranges, speakers as seats, findings on no turn left out,
    // and a start more than a week before the end (or after it) moved to the end less the
    // duration.
    [[nodiscard]] ConversationUploadPayload bounded() const;

    // The review the document stands for. Without an analysis the statistics are
    // recomputed from the transcript and the summary is empty.
    DerivedSessionResult derivedResult() const;

    // A copy in which each given part replaces the present one; an absent argument keeps
    // it, so the analysis is never removed this way.
    ConversationUploadPayload replacing(std::optional<ConversationTranscriptPayload> newTranscript,
        std::optional<ConversationAnalysisPayload> newAnalysis) const;

    // A title as this application writes one (see maximumTitleUnits): cleaned as every shown
    // text is (VisibleText::cleaned), at most 200 user-perceived characters.
    [[nodiscard]] static QString boundedTitle(const QString& title);

    // "conversation_id" is written in lower case and read in either case. Reading refuses a
    // document this application would never write: a title, summary or segment text past its
    // bound or that VisibleText::holdsInvisible refuses, half of a surrogate pair alone in any
    // string, a duration outside 0...one day or longer than from start to end, a start before
    // 1970 (and a second), after the end or more than a week before it, a speaker other than
    // the two seats, a segment that ends before it starts or past the duration (and its margin), an
    // annotation or foul that does so within the day or lies on no segment, a negative count, a seat's turns
    // past the segments (or ten a second of a transcript shortened to fit), a share or confidence outside
    // 0...1.
    QJsonObject toJson() const;
    [[nodiscard]] static std::expected<ConversationUploadPayload, JsonDecodeError> fromJson(
        const QJsonValue& value);
    // The document's fields as fromJson reads them, their values unjudged: what was stored
    // before a bound, on its way to be brought within it (bounded).
    [[nodiscard]] static std::expected<ConversationUploadPayload, JsonDecodeError> fromJsonUnchecked(
        const QJsonValue& value);
};

} // namespace lumora
