#include "domain/ConversationRecordSummary.hpp"

#include "domain/ConversationUploadPayload.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"
#include "domain/UnixSeconds.hpp"

namespace lumora {

QDateTime ConversationRecordSummary::completedAt() const
{
    return QDateTime::fromSecsSinceEpoch(endedAt, Qt::UTC);
}

QJsonObject ConversationRecordSummary::toJson() const
{
    QJsonObject json { { QStringLiteral("id"), uuidText(id, UuidCase::upper) },
        { QStringLiteral("mode"), mode }, { QStringLiteral("status"), status },
        { QStringLiteral("workspace"), toString(workspace) }, { QStringLiteral("started_at"), startedAt },
        { QStringLiteral("ended_at"), endedAt }, { QStringLiteral("duration_seconds"), durationSeconds },
        { QStringLiteral("created_at"), createdAt } };
    if (title)
        json.insert(QStringLiteral("title"), *title);
    if (pendingDeletion)
        json.insert(QStringLiteral("pending_deletion"), pendingDeletion->toJson());
    if (turns)
        json.insert(QStringLiteral("turns"), *turns);
    return json;
}

std::expected<ConversationRecordSummary, JsonDecodeError> ConversationRecordSummary::fromJson(
    const QJsonValue& value)
{
    // Within what this application uploads, whatever a partner's device or an older server
    // stored: the history shows and keeps no more, and a number past every bound (a count of
    // 2^63 - 1 turns) is read as the bound rather than costing the row.
    using Payload = ConversationUploadPayload;
    // Turns last half a second at the least, over the length counted in whole seconds (plus the
    // second it may have been cut short by).
    constexpr qint64 turnsPerSecond = 2;
    JsonObjectReader reader(value, QStringLiteral("ConversationRecordSummary"));
    ConversationRecordSummary summary;
    summary.id = reader.uuid(u"id");
    summary.mode = reader.string(u"mode");
    summary.status = reader.string(u"status");
    summary.startedAt = reader.boundedInteger(u"started_at", 0, latestWritableSeconds);
    summary.endedAt = reader.boundedInteger(u"ended_at", 0, latestWritableSeconds);
    summary.durationSeconds = reader.boundedInteger(u"duration_seconds", 0, Payload::maximumDurationSeconds);
    summary.title = reader.optionalString(u"title").transform(Payload::boundedTitle);
    summary.createdAt = reader.boundedInteger(u"created_at", 0, latestWritableSeconds);
    summary.workspace = reader.optionalEnumeration<ConversationWorkspaceScope>(u"workspace")
                            .value_or(ConversationWorkspaceScope::current);
    summary.pendingDeletion = reader.optionalRecord<PendingConversationDeletion>(u"pending_deletion");
    summary.turns
        = reader.optionalBoundedInteger(u"turns", 0, turnsPerSecond * (summary.durationSeconds + 1));
    return finish(reader, std::move(summary));
}

} // namespace lumora
