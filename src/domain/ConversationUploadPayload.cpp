#include "domain/ConversationUploadPayload.hpp"

#include "domain/ConversationStats.hpp"
#include "domain/DerivedSessionResult.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "domain/UnixSeconds.hpp"
#include "domain/VisibleText.hpp"

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

std::optional<QString> uploadTitle(const std::optional<QString>& title)
{
    if (!title)
        return std::nullopt;
    const QString trimmed = VisibleText::cleaned(*title).trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return ConversationUploadPayload::boundedTitle(trimmed);
}

// Seconds into the conversation, within the day a document may span.
double secondsWithin(double seconds)
{
    return std::clamp(seconds, 0.0, static_cast<double>(ConversationUploadPayload::maximumDurationSeconds));
}

// A text as the document holds it, from what a provider gave.
QString boundedText(const QString& text, qsizetype units)
{
    return VisibleText::leading(VisibleText::cleaned(text), units, units);
}

// The review's parts as a document holds them: what a provider gave may lie outside what a
// reader takes (a turn that ends before it starts, a control character in a text).
SpeakerTurn boundedTurn(SpeakerTurn turn)
{
    turn.start = secondsWithin(turn.start);
    turn.end = std::max(secondsWithin(turn.end), turn.start);
    turn.text = boundedText(turn.text, ConversationUploadPayload::maximumTextUnits);
    return turn;
}

template <typename Finding> Finding boundedFinding(Finding finding)
{
    finding.turnIndex = std::max<qint64>(finding.turnIndex, 0);
    finding.confidence = std::clamp(finding.confidence, 0.0, 1.0);
    finding.start = secondsWithin(finding.start);
    finding.end = std::max(secondsWithin(finding.end), finding.start);
    return finding;
}

SpeakerStats boundedStats(SpeakerStats stats)
{
    stats.talkTime = secondsWithin(stats.talkTime);
    stats.turns = std::max<qint64>(stats.turns, 0);
    stats.longestTurn = secondsWithin(stats.longestTurn);
    stats.share = std::clamp(stats.share, 0.0, 1.0);
    return stats;
}

template <typename T, typename Bound> QList<T> boundedAll(QList<T> items, Bound bound)
{
    for (T& item : items)
        item = bound(std::move(item));
    return items;
}

bool isWithinDay(double seconds)
{
    return seconds >= 0 && seconds <= static_cast<double>(ConversationUploadPayload::maximumDurationSeconds);
}

bool isSpan(double start, double end)
{
    return isWithinDay(start) && isWithinDay(end) && start <= end;
}

bool isFraction(double value)
{
    return value >= 0 && value <= 1;
}

bool isShownText(const QString& text, qsizetype units)
{
    return text.size() <= units && !VisibleText::holdsInvisible(text);
}

template <typename Finding> bool isFinding(const Finding& finding)
{
    return finding.turnIndex >= 0 && isFraction(finding.confidence) && isSpan(finding.start, finding.end);
}

// The first part of a read document that this application would never write: its key and why.
std::optional<std::pair<QStringView, QString>> outOfBounds(const ConversationUploadPayload& payload)
{
    using Payload = ConversationUploadPayload;
    if (payload.title
        && (!isShownText(*payload.title, Payload::maximumTitleUnits)
            || VisibleText::longerThan(*payload.title, Payload::maximumTitleCharacters)))
        return std::pair { u"title", QStringLiteral("more than 200 characters, or invisible ones") };
    if (payload.durationSeconds < 0 || payload.durationSeconds > Payload::maximumDurationSeconds)
        return std::pair { u"duration_seconds", QStringLiteral("outside 0...86400") };
    if (payload.startedAt < 1 || payload.endedAt < payload.startedAt
        || payload.durationSeconds > payload.endedAt - payload.startedAt)
        return std::pair { u"ended_at", QStringLiteral("before the start, or nearer it than the duration") };
    for (const SpeakerTurn& turn : payload.transcript.segments) {
        if (!isSpan(turn.start, turn.end) || !isShownText(turn.text, Payload::maximumTextUnits))
            return std::pair { u"transcript", QStringLiteral("a segment out of bounds") };
    }
    if (!payload.analysis)
        return std::nullopt;
    const ConversationAnalysisPayload& analysis = *payload.analysis;
    const bool statsHold = std::ranges::all_of(analysis.stats, [](const SpeakerStats& stats) {
        return stats.turns >= 0 && isWithinDay(stats.talkTime) && isWithinDay(stats.longestTurn)
            && isFraction(stats.share);
    });
    if (!isShownText(analysis.summary, Payload::maximumSummaryUnits) || !statsHold
        || !std::ranges::all_of(analysis.annotations, isFinding<BehaviorAnnotation>)
        || !std::ranges::all_of(analysis.fouls, isFinding<ProcessFoulAnnotation>))
        return std::pair { u"analysis", QStringLiteral("a summary, statistic or finding out of bounds") };
    return std::nullopt;
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
    const qint64 startedAt = std::max<qint64>(endedAt - duration, 1);
    ConversationUploadPayload payload;
    payload.conversationID = conversationID;
    payload.mode = result.mode;
    payload.startedAt = startedAt;
    payload.endedAt = endedAt;
    payload.durationSeconds = std::min(std::max<qint64>(endedAt - startedAt, 0), duration);
    payload.title = uploadTitle(result.title);
    payload.transcript.segments = boundedAll(result.transcript.value_or(QList<SpeakerTurn> {}), boundedTurn);
    if (result.fromLiveTranscript)
        payload.transcript.live = true;
    ConversationAnalysisPayload analysis = ConversationAnalysisPayload::fromResult(result);
    analysis.summary = boundedText(analysis.summary, maximumSummaryUnits);
    analysis.stats = boundedAll(std::move(analysis.stats), boundedStats);
    analysis.annotations = boundedAll(std::move(analysis.annotations), boundedFinding<BehaviorAnnotation>);
    analysis.fouls = boundedAll(std::move(analysis.fouls), boundedFinding<ProcessFoulAnnotation>);
    payload.analysis = std::move(analysis);
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
    ConversationUploadPayload payload;
    payload.conversationID = reader.uuid(u"conversation_id");
    payload.mode = reader.enumeration<ConversationMode>(u"mode");
    payload.startedAt = reader.integer(u"started_at");
    payload.endedAt = reader.integer(u"ended_at");
    payload.durationSeconds = reader.integer(u"duration_seconds");
    payload.title = reader.optionalString(u"title");
    payload.transcript = reader.record<ConversationTranscriptPayload>(u"transcript");
    payload.analysis = reader.optionalRecord<ConversationAnalysisPayload>(u"analysis");
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

} // namespace lumora
