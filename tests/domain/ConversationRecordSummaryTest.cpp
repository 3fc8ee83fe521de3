#include "domain/ConversationRecordSummary.hpp"

#include "domain/JsonObjectReader.hpp"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace lumora;

namespace {

const QByteArray minimalRow
    = R"({"id":"0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9","mode":"checkin","status":"stored",
    "started_at":100,"ended_at":160,"duration_seconds":60,"created_at":170})";

ConversationRecordSummary read(const QByteArray& json)
{
    auto summary = decodeJson<ConversationRecordSummary>(json);
    EXPECT_TRUE(summary.has_value()) << (summary ? "" : summary.error().message.toStdString());
    return summary.value_or(ConversationRecordSummary {});
}

QByteArray withKey(const char* keyAndValue)
{
    QByteArray json = minimalRow;
    json.chop(1);
    return json + "," + keyAndValue + "}";
}

} // namespace

TEST(ConversationRecordSummary, OptionalKeysReadLeniently)
{
    const ConversationRecordSummary minimal = read(minimalRow);
    EXPECT_EQ(minimal.workspace, ConversationWorkspaceScope::current);
    EXPECT_EQ(minimal.title, std::nullopt);
    EXPECT_EQ(minimal.pendingDeletion, std::nullopt);

    EXPECT_EQ(read(withKey(R"("workspace":null,"title":null,"pending_deletion":null)")), minimal);
    EXPECT_EQ(read(withKey(R"("workspace":"previous")")).workspace, ConversationWorkspaceScope::previous);
    EXPECT_EQ(read(withKey(R"("mode":"anything at all")")).mode, "anything at all");

    const auto pending
        = read(withKey(R"("pending_deletion":{"requested_by_me":false,"requested_at":5,"expires_at":9})"));
    EXPECT_EQ(pending.pendingDeletion,
        (PendingConversationDeletion { .requestedByMe = false, .requestedAt = 5, .expiresAt = 9 }));
}

TEST(ConversationRecordSummary, BadRowsFailAsAWhole)
{
    for (const char* extra : {
             R"("workspace":"Previous")",
             R"("title":3)",
             R"("id":"not-a-uuid")",
             R"("ended_at":"160")",
             R"("duration_seconds":1.5)",
             R"("pending_deletion":{"requested_at":5,"expires_at":9})",
             R"("pending_deletion":{"requested_by_me":true,"requested_at":5})",
             R"("pending_deletion":"soon")",
         }) {
        SCOPED_TRACE(extra);
        EXPECT_FALSE(decodeJson<ConversationRecordSummary>(withKey(extra)).has_value());
    }
    for (const char* key :
        { "id", "mode", "status", "started_at", "ended_at", "duration_seconds", "created_at" }) {
        SCOPED_TRACE(key);
        QJsonObject json = read(minimalRow).toJson();
        json.remove(key);
        EXPECT_FALSE(ConversationRecordSummary::fromJson(json).has_value());
    }
}

TEST(ConversationRecordSummary, WritingOmitsOnlyAbsentOptionals)
{
    const ConversationRecordSummary minimal = read(minimalRow);
    const QJsonObject json = minimal.toJson();
    EXPECT_EQ(json.value("id").toString(), "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9");
    EXPECT_FALSE(json.contains("title"));
    EXPECT_FALSE(json.contains("pending_deletion"));
    EXPECT_FALSE(json.contains("turns"));

    ConversationRecordSummary full = minimal;
    full.title = QStringLiteral("Holidays");
    full.workspace = ConversationWorkspaceScope::previous;
    full.pendingDeletion
        = PendingConversationDeletion { .requestedByMe = true, .requestedAt = 1, .expiresAt = 2 };
    full.turns = 12;
    EXPECT_EQ(ConversationRecordSummary::fromJson(full.toJson()), full);
}

// Whatever an older server stored (a partner's title of most of a megabyte, with NUL and
// direction overrides, a length of 2^53 seconds, turns counted below nothing) is read as this application
// uploads it, so that the history shows and keeps no more: a row is never dropped for it.
TEST(ConversationRecordSummary, RowsAreBroughtWithinWhatTheApplicationUploads)
{
    const QString hostile = QStringLiteral("\u202Elive\u0000\u001B[2J ").repeated(90'000);
    QJsonObject row = QJsonDocument::fromJson(minimalRow).object();
    row.insert("title", hostile);
    row.insert("duration_seconds", qint64(1) << 53);
    const ConversationRecordSummary summary = read(QJsonDocument(row).toJson());
    ASSERT_TRUE(summary.title.has_value());
    EXPECT_EQ(*summary.title, QStringLiteral("live  [2J ").repeated(20));
    EXPECT_EQ(summary.durationSeconds, 86'400);
    row.insert("duration_seconds", -5);
    row.insert("turns", -3);
    const ConversationRecordSummary below = read(QJsonDocument(row).toJson());
    EXPECT_EQ(below.durationSeconds, 0);
    EXPECT_EQ(below.turns, 0);

    // A present but empty title stays present: the history shows it empty.
    EXPECT_EQ(read(withKey(R"("title":"")")).title, QString());
}

// A count or a time past every bound, as a partner's device got it stored (each seat claiming
// 2^62 turns, saturated to 2^63 - 1), costs nothing but the number: read as the bound, however
// it is written. A fraction still refuses the row.
TEST(ConversationRecordSummary, NumbersPastEveryBoundAreReadAsTheBound)
{
    constexpr qint64 day = 86'400;
    constexpr qint64 year9999 = 253'402'300'799;
    const struct {
        const char* key;
        const char* number;
        qint64 ConversationRecordSummary::*field;
        qint64 read;
    } cases[] {
        { "duration_seconds", "9223372036854775807", &ConversationRecordSummary::durationSeconds, day },
        { "duration_seconds", "9223372036854775808", &ConversationRecordSummary::durationSeconds, day },
        { "duration_seconds", "-9223372036854775809", &ConversationRecordSummary::durationSeconds, 0 },
        { "started_at", "1e300", &ConversationRecordSummary::startedAt, year9999 },
        { "started_at", "-9223372036854775808", &ConversationRecordSummary::startedAt, 0 },
        { "ended_at", "9223372036854775807", &ConversationRecordSummary::endedAt, year9999 },
        { "ended_at", "253402300800", &ConversationRecordSummary::endedAt, year9999 },
        { "created_at", "9.3e18", &ConversationRecordSummary::createdAt, year9999 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + ": " + c.number);
        EXPECT_EQ(read(withKey(QByteArray("\"") + c.key + "\":" + c.number)).*c.field, c.read);
    }
    for (const char* turns : { "9223372036854775807", "9223372036854775808", "4.6116860184273879e18" }) {
        SCOPED_TRACE(turns);
        EXPECT_EQ(read(withKey(QByteArray("\"turns\":") + turns)).turns, 2 * (60 + 1))
            << "as many as the minute's length allows";
    }
    EXPECT_EQ(read(withKey(R"("turns":34)")).turns, 34);
    const auto pending = read(withKey(
        R"("pending_deletion":{"requested_by_me":true,"requested_at":9223372036854775807,"expires_at":-1})"));
    EXPECT_EQ(pending.pendingDeletion,
        (PendingConversationDeletion { .requestedByMe = true, .requestedAt = year9999, .expiresAt = 0 }));
    for (const char* fraction : { R"("turns":1.5)", R"("ended_at":0.5)" })
        EXPECT_FALSE(decodeJson<ConversationRecordSummary>(withKey(fraction)).has_value()) << fraction;

    // What is read so is written into the history's cache and read back alike.
    const ConversationRecordSummary bounded = read(withKey(R"("turns":9223372036854775807)"));
    EXPECT_EQ(ConversationRecordSummary::fromJson(bounded.toJson()), bounded);
}
