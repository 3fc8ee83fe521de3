#include "domain/ConversationRecordSummary.hpp"

#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

namespace lumora {

QDateTime ConversationRecordSummary::completedAt() const
{
    return QDateTime::fromSecsSinceEpoch(endedAt, Qt::UTC);
}

QJsonObject ConversationRecordSummary::toJson() const
{
    QJsonObject json { { "id", uuidText(id, UuidCase::upper) }, { "mode", mode }, { "status", status },
        { "workspace", toString(workspace) }, { "started_at", startedAt }, { "ended_at", endedAt },
        { "duration_seconds", durationSeconds }, { "created_at", createdAt } };
    if (title)
        json.insert("title", *title);
    if (pendingDeletion)
        json.insert("pending_deletion", pendingDeletion->toJson());
    return json;
}

std::expected<ConversationRecordSummary, JsonDecodeError> ConversationRecordSummary::fromJson(
    const QJsonValue& value)
{
    JsonObjectReader reader(value, QStringLiteral("ConversationRecordSummary"));
    ConversationRecordSummary summary;
    summary.id = reader.uuid(u"id");
    summary.mode = reader.string(u"mode");
    summary.status = reader.string(u"status");
    summary.startedAt = reader.integer(u"started_at");
    summary.endedAt = reader.integer(u"ended_at");
    summary.durationSeconds = reader.integer(u"duration_seconds");
    summary.title = reader.optionalString(u"title");
    summary.createdAt = reader.integer(u"created_at");
    summary.workspace = reader.optionalEnumeration<ConversationWorkspaceScope>(u"workspace")
                            .value_or(ConversationWorkspaceScope::current);
    summary.pendingDeletion = reader.optionalRecord<PendingConversationDeletion>(u"pending_deletion");
    return finish(reader, std::move(summary));
}

} // namespace lumora
