#include "domain/ConversationRecordSummary.hpp"

#include "domain/ConversationUploadPayload.hpp"
#include "domain/JsonObjectReader.hpp"
#include "domain/JsonWriting.hpp"

#include <algorithm>

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
    JsonObjectReader reader(value, QStringLiteral("ConversationRecordSummary"));
    ConversationRecordSummary summary;
    summary.id = reader.uuid(u"id");
    summary.mode = reader.string(u"mode");
    summary.status = reader.string(u"status");
    summary.startedAt = reader.integer(u"started_at");
    summary.endedAt = reader.integer(u"ended_at");
    // Within what this application uploads, whatever a partner's device or an older server
    // stored: the history shows and keeps no more.
    summary.durationSeconds = std::clamp<qint64>(
        reader.integer(u"duration_seconds"), 0, ConversationUploadPayload::maximumDurationSeconds);
    summary.title = reader.optionalString(u"title").transform(ConversationUploadPayload::boundedTitle);
    summary.createdAt = reader.integer(u"created_at");
    summary.workspace = reader.optionalEnumeration<ConversationWorkspaceScope>(u"workspace")
                            .value_or(ConversationWorkspaceScope::current);
    summary.pendingDeletion = reader.optionalRecord<PendingConversationDeletion>(u"pending_deletion");
    // A count an older server made of statistics it took unchecked may be below nothing.
    summary.turns
        = reader.optionalInteger(u"turns").transform([](qint64 turns) { return std::max<qint64>(turns, 0); });
    return finish(reader, std::move(summary));
}

} // namespace lumora
