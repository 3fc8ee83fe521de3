#include "domain/ConversationUploadPayload.hpp"

#include "domain/ConversationStats.hpp"
#include "domain/DerivedSessionResult.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "domain/UnixSeconds.hpp"

#include <QTextBoundaryFinder>
#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

// The first `limit` user-perceived characters (grapheme clusters) of a text.
QString leadingGraphemes(const QString& text, qsizetype limit)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (count < limit && finder.toNextBoundary() != -1)
        ++count;
    return count < limit ? text : text.left(finder.position());
}

std::optional<QString> uploadTitle(const std::optional<QString>& title)
{
    if (!title)
        return std::nullopt;
    const QString trimmed = title->trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return leadingGraphemes(trimmed, ConversationUploadPayload::maximumTitleCharacters);
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
    payload.transcript.segments = result.transcript.value_or(QList<SpeakerTurn> {});
    if (result.fromLiveTranscript)
        payload.transcript.live = true;
    payload.analysis = ConversationAnalysisPayload::fromResult(result);
    return payload;
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
    return finish(reader, std::move(payload));
}

} // namespace lumora
