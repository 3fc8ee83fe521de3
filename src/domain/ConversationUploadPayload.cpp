#include "domain/ConversationUploadPayload.hpp"

#include "domain/ConversationStats.hpp"
#include "domain/DerivedSessionResult.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "domain/Seat.hpp"
#include "domain/UnixSeconds.hpp"
#include "domain/VisibleText.hpp"

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

using Payload = ConversationUploadPayload;

std::optional<QString> uploadTitle(const std::optional<QString>& title)
{
    if (!title)
        return std::nullopt;
    const QString trimmed = VisibleText::cleaned(*title).trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return Payload::boundedTitle(trimmed);
}

// Seconds into the conversation, within `length`.
double secondsWithin(double seconds, double length = static_cast<double>(Payload::maximumDurationSeconds))
{
    return std::clamp(seconds, 0.0, length);
}

// A text as the document holds it, from what a provider gave.
QString boundedText(const QString& text, qsizetype units)
{
    return VisibleText::leading(VisibleText::cleaned(text), units, units);
}

// The latest a segment may end: the length, whole seconds rounded, and the margin for what
// rounding and the live stream's own clock put past it.
double segmentsEndBy(const Payload& payload)
{
    return static_cast<double>(payload.durationSeconds + Payload::segmentMarginSeconds);
}

bool isSeat(qint64 speaker)
{
    return speaker == 0 || speaker == 1;
}

// The most turns one seat may count: one per segment, each holding at least one. A transcript
// shortened to fit the body lost segments the statistics still count; ten turns a second of
// the conversation is more than two people take.
qint64 maximumTurnsPerSeat(const Payload& payload)
{
    const auto segments = static_cast<qint64>(payload.transcript.segments.size());
    if (!payload.transcript.truncated.value_or(false))
        return segments;
    return std::max(segments, 10 * payload.durationSeconds);
}

template <typename Finding> bool isOnATurn(const Finding& finding, const Payload& payload)
{
    return finding.turnIndex >= 0 && finding.turnIndex < payload.transcript.segments.size();
}

// The findings on a turn of the transcript, within their bounds; those on no turn go.
template <typename Finding> QList<Finding> boundedFindings(QList<Finding> findings, const Payload& payload)
{
    QList<Finding> kept;
    for (Finding& finding : findings) {
        if (!isOnATurn(finding, payload))
            continue;
        finding.speaker = seatOf(finding.speaker);
        finding.confidence = std::clamp(finding.confidence, 0.0, 1.0);
        finding.start = secondsWithin(finding.start);
        finding.end = std::max(secondsWithin(finding.end), finding.start);
        kept.append(std::move(finding));
    }
    return kept;
}

bool isWithinDay(double seconds)
{
    return seconds >= 0 && seconds <= static_cast<double>(Payload::maximumDurationSeconds);
}

bool isSpan(double start, double end, double length = static_cast<double>(Payload::maximumDurationSeconds))
{
    return start >= 0 && start <= end && end <= length;
}

bool isFraction(double value)
{
    return value >= 0 && value <= 1;
}

bool isShownText(const QString& text, qsizetype units)
{
    return text.size() <= units && !VisibleText::holdsInvisible(text);
}

template <typename Finding> bool isFinding(const Finding& finding, const Payload& payload)
{
    return isOnATurn(finding, payload) && isSeat(finding.speaker) && isFraction(finding.confidence)
        && isSpan(finding.start, finding.end);
}

// The first part of a read document that this application would never write: its key and why.
std::optional<std::pair<QStringView, QString>> outOfBounds(const Payload& payload)
{
    if (payload.title
        && (!isShownText(*payload.title, Payload::maximumTitleUnits)
            || VisibleText::longerThan(*payload.title, Payload::maximumTitleCharacters)))
        return std::pair { u"title", QStringLiteral("more than 200 characters, or invisible ones") };
    if (payload.durationSeconds < 0 || payload.durationSeconds > Payload::maximumDurationSeconds)
        return std::pair { u"duration_seconds", QStringLiteral("outside 0...86400") };
    if (payload.startedAt < 1 || payload.endedAt < payload.startedAt
        || payload.endedAt - payload.startedAt > Payload::maximumSpanSeconds
        || payload.durationSeconds > payload.endedAt - payload.startedAt)
        return std::pair { u"ended_at",
            QStringLiteral("before the start, more than a week after it, or nearer it than the duration") };
    const double length = segmentsEndBy(payload);
    for (const SpeakerTurn& turn : payload.transcript.segments) {
        if (!isSeat(turn.speaker) || !isSpan(turn.start, turn.end, length)
            || !isShownText(turn.text, Payload::maximumTextUnits))
            return std::pair { u"transcript", QStringLiteral("a segment out of bounds") };
    }
    if (!payload.analysis)
        return std::nullopt;
    const ConversationAnalysisPayload& analysis = *payload.analysis;
    const qint64 turns = maximumTurnsPerSeat(payload);
    const bool statsHold = std::ranges::all_of(analysis.stats, [turns](const SpeakerStats& stats) {
        return isSeat(stats.speaker) && stats.turns >= 0 && stats.turns <= turns
            && isWithinDay(stats.talkTime) && isWithinDay(stats.longestTurn) && isFraction(stats.share);
    });
    const auto onTheTurns = [&payload](const auto& finding) { return isFinding(finding, payload); };
    if (!isShownText(analysis.summary, Payload::maximumSummaryUnits) || !statsHold
        || !std::ranges::all_of(analysis.annotations, onTheTurns)
        || !std::ranges::all_of(analysis.fouls, onTheTurns))
        return std::pair { u"analysis", QStringLiteral("a summary, statistic or finding out of bounds") };
    return std::nullopt;
}

// Half of a surrogate pair alone in a string: no character at all, which no text of this
// application holds.
bool isBrokenText(const QJsonValue& value)
{
    return value.isString() && !value.toString().isValidUtf16();
}

ConversationUploadPayload fieldsOf(JsonObjectReader& reader)
{
    ConversationUploadPayload payload;
    payload.conversationID = reader.uuid(u"conversation_id");
    payload.mode = reader.enumeration<ConversationMode>(u"mode");
    payload.startedAt = reader.integer(u"started_at");
    payload.endedAt = reader.integer(u"ended_at");
    payload.durationSeconds = reader.integer(u"duration_seconds");
    payload.title = reader.optionalString(u"title");
    payload.transcript = reader.record<ConversationTranscriptPayload>(u"transcript");
    payload.analysis = reader.optionalRecord<ConversationAnalysisPayload>(u"analysis");
    return payload;
}

} // namespace

qint64 ConversationUploadPayload::wholeDurationSeconds(double duration)
{
    const double rounded = std::round(duration);
    if (!(rounded > 0))
        return 0;
    if (rounded >= static_cast<double>(maximumDurationSeconds))
        return maximumDurationSeconds;
    return static_cast<qint64>(rounded);
}

ConversationUploadPayload ConversationUploadPayload::fromResult(
    const DerivedSessionResult& result, const QUuid& conversationID)
{
    const qint64 duration = wholeDurationSeconds(result.duration);
    // Integer division truncates toward zero, as the whole seconds of a moment do.
    const qint64 endedAt = result.completedAt.isValid() ? result.completedAt.toMSecsSinceEpoch() / 1000 : 0;
    ConversationUploadPayload payload;
    payload.conversationID = conversationID;
    payload.mode = result.mode;
    payload.startedAt = std::max<qint64>(endedAt - duration, 1);
    payload.endedAt = endedAt;
    payload.durationSeconds = duration;
    payload.title = result.title;
    payload.transcript.segments = result.transcript.value_or(QList<SpeakerTurn> {});
    if (result.fromLiveTranscript)
        payload.transcript.live = true;
    payload.analysis = ConversationAnalysisPayload::fromResult(result);
    // What a provider gave may lie outside what a reader takes (a turn that ends before it
    // starts or after the conversation, a control character in a text, a finding on no turn).
    return payload.bounded();
}

ConversationUploadPayload ConversationUploadPayload::bounded() const
{
    ConversationUploadPayload payload = *this;
    payload.title = uploadTitle(title);
    payload.endedAt = std::clamp<qint64>(endedAt, 1, latestWritableSeconds);
    payload.durationSeconds = std::clamp<qint64>(durationSeconds, 0, maximumDurationSeconds);
    if (startedAt < 1 || startedAt > payload.endedAt || payload.endedAt - startedAt > maximumSpanSeconds)
        payload.startedAt = std::max<qint64>(payload.endedAt - payload.durationSeconds, 1);
    payload.durationSeconds = std::min(payload.durationSeconds, payload.endedAt - payload.startedAt);
    const double length = segmentsEndBy(payload);
    for (SpeakerTurn& turn : payload.transcript.segments) {
        turn.speaker = seatOf(turn.speaker);
        turn.start = secondsWithin(turn.start, length);
        turn.end = std::max(secondsWithin(turn.end, length), turn.start);
        turn.text = boundedText(turn.text, maximumTextUnits);
    }
    if (!payload.analysis)
        return payload;
    ConversationAnalysisPayload& analysis = *payload.analysis;
    analysis.summary = boundedText(analysis.summary, maximumSummaryUnits);
    const qint64 turns = maximumTurnsPerSeat(payload);
    for (SpeakerStats& stats : analysis.stats) {
        stats.speaker = seatOf(stats.speaker);
        stats.talkTime = secondsWithin(stats.talkTime);
        stats.turns = std::clamp<qint64>(stats.turns, 0, turns);
        stats.longestTurn = secondsWithin(stats.longestTurn);
        stats.share = std::clamp(stats.share, 0.0, 1.0);
    }
    analysis.annotations = boundedFindings(std::move(analysis.annotations), payload);
    analysis.fouls = boundedFindings(std::move(analysis.fouls), payload);
    return payload;
}

QString ConversationUploadPayload::boundedTitle(const QString& title)
{
    return VisibleText::leading(VisibleText::cleaned(title), maximumTitleCharacters, maximumTitleUnits);
}

DerivedSessionResult ConversationUploadPayload::derivedResult() const
{
    DerivedSessionResult result;
    result.id = conversationID;
    result.title = title;
    result.completedAt = QDateTime::fromSecsSinceEpoch(endedAt, Qt::UTC);
    result.duration = static_cast<double>(durationSeconds);
    result.mode = mode;
    result.transcript = transcript.segments;
    result.fromLiveTranscript = transcript.live.value_or(false);
    if (analysis) {
        result.stats = analysis->stats;
        result.annotations = analysis->annotations;
        result.fouls = analysis->fouls;
        result.harshStartupDetected = analysis->harshStartupDetected;
        result.summary = analysis->summary;
    } else {
        result.stats = ConversationStats::compute(transcript.segments);
        result.fouls = QList<ProcessFoulAnnotation> {};
    }
    return result;
}

ConversationUploadPayload ConversationUploadPayload::replacing(
    std::optional<ConversationTranscriptPayload> newTranscript,
    std::optional<ConversationAnalysisPayload> newAnalysis) const
{
    ConversationUploadPayload copy = *this;
    if (newTranscript)
        copy.transcript = std::move(*newTranscript);
    if (newAnalysis)
        copy.analysis = std::move(newAnalysis);
    return copy;
}

QJsonObject ConversationUploadPayload::toJson() const
{
    QJsonObject json { { QStringLiteral("conversation_id"), uuidText(conversationID, UuidCase::lower) },
        { QStringLiteral("mode"), toString(mode) }, { QStringLiteral("started_at"), startedAt },
        { QStringLiteral("ended_at"), endedAt }, { QStringLiteral("duration_seconds"), durationSeconds },
        { QStringLiteral("transcript"), transcript.toJson() } };
    if (title)
        json.insert(QStringLiteral("title"), *title);
    if (analysis)
        json.insert(QStringLiteral("analysis"), analysis->toJson());
    return json;
}

std::expected<ConversationUploadPayload, JsonDecodeError> ConversationUploadPayload::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ConversationUploadPayload"));
    if (anyJsonValue(value, isBrokenText))
        reader.fail(u"", QStringLiteral("half of a surrogate pair alone"));
    ConversationUploadPayload payload = fieldsOf(reader);
    // The review made from the document is stored with its end as a date.
    for (const auto& [key, seconds] :
        { std::pair { u"started_at", payload.startedAt }, std::pair { u"ended_at", payload.endedAt } }) {
        if (!isWritableSeconds(seconds))
            reader.fail(key, QStringLiteral("outside the years 0001 to 9999"));
    }
    if (!reader.failed()) {
        if (const auto broken = outOfBounds(payload))
            reader.fail(broken->first, broken->second);
    }
    return finish(reader, std::move(payload));
}

std::expected<ConversationUploadPayload, JsonDecodeError> ConversationUploadPayload::fromJsonUnchecked(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ConversationUploadPayload"));
    ConversationUploadPayload payload = fieldsOf(reader);
    return finish(reader, std::move(payload));
}

} // namespace lumora
