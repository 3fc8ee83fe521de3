#include "domain/ConversationBackupPolicy.hpp"

#include "domain/JsonObjectReader.hpp"

#include <gtest/gtest.h>
#include <limits>

using namespace lumora;

namespace {

using Outcome = ConversationBackupOutcome;

const QDateTime start = QDateTime(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC);
const QUuid localID = QUuid::fromString(QStringLiteral("AAAAAAAA-0000-4000-8000-000000000001"));
const QUuid firstID = QUuid::fromString(QStringLiteral("BBBBBBBB-0000-4000-8000-000000000002"));
const QUuid freshID = QUuid::fromString(QStringLiteral("CCCCCCCC-0000-4000-8000-000000000003"));

ConversationBackupRecord pendingRecord(qint64 attempts, std::optional<QDateTime> lastAttemptAt)
{
    return { .localID = localID,
        .conversationID = firstID,
        .state = ConversationBackupState::pending,
        .attempts = attempts,
        .lastAttemptAt = lastAttemptAt,
        .lastFailureCode = attempts > 0 ? std::optional<QString>("status_503") : std::nullopt };
}

} // namespace

TEST(ConversationBackupPolicy, OutcomeTable)
{
    struct Case {
        std::optional<int> status;
        std::optional<QString> code;
        Outcome expected;
    };
    const std::optional<QString> none;
    for (const Case& c : {
             Case { std::nullopt, none, Outcome::retryLater("offline") },
             Case { std::nullopt, "timed_out", Outcome::retryLater("timed_out") },
             Case { 200, "whatever", Outcome::stored() },
             Case { 299, none, Outcome::stored() },
             Case { 300, none, Outcome::abandoned("status_300") },
             Case { 199, none, Outcome::abandoned("status_199") },
             Case { 409, "conversation_id_conflict", Outcome::retryWithNewIdentifier() },
             Case { 409, "Conversation_ID_Conflict", Outcome::abandoned("Conversation_ID_Conflict") },
             Case { 409, none, Outcome::abandoned("status_409") },
             Case { 200, "conversation_id_conflict", Outcome::stored() },
             Case { 401, none, Outcome::retryLater("status_401") },
             Case { 403, "forbidden", Outcome::retryLater("forbidden") },
             Case { 408, none, Outcome::retryLater("status_408") },
             Case { 425, none, Outcome::retryLater("status_425") },
             Case { 429, none, Outcome::retryLater("status_429") },
             Case { 400, "invalid_body", Outcome::abandoned("invalid_body") },
             Case { 413, none, Outcome::abandoned("status_413") },
             Case { 499, none, Outcome::abandoned("status_499") },
             Case { 500, none, Outcome::retryLater("status_500") },
             Case { 600, none, Outcome::abandoned("status_600") },
             Case { -1, none, Outcome::abandoned("status_-1") },
         }) {
        SCOPED_TRACE(testing::Message() << c.status.value_or(0) << " " << c.code.value_or("-").toStdString());
        EXPECT_EQ(ConversationBackupPolicy::outcome(c.status, c.code), c.expected);
    }
}

TEST(ConversationBackupPolicy, DelaysDoubleFromAMinuteToSixHours)
{
    struct Case {
        qint64 attempts;
        double seconds;
    };
    for (const Case& c :
        { Case { std::numeric_limits<qint64>::min(), 0 }, Case { 0, 0 }, Case { 1, 60 }, Case { 2, 120 },
            Case { 9, 15'360 }, Case { 10, 21'600 }, Case { std::numeric_limits<qint64>::max(), 21'600 } }) {
        SCOPED_TRACE(c.attempts);
        EXPECT_EQ(ConversationBackupPolicy::delay(c.attempts), c.seconds);
    }
}

TEST(ConversationBackupPolicy, OnlyPendingRecordsAreTriedOnceTheirDelayHasPassed)
{
    EXPECT_TRUE(ConversationBackupPolicy::shouldAttempt(pendingRecord(0, std::nullopt), start));
    EXPECT_FALSE(ConversationBackupPolicy::shouldAttempt(pendingRecord(3, start), start.addMSecs(239'999)));
    EXPECT_TRUE(ConversationBackupPolicy::shouldAttempt(pendingRecord(3, start), start.addSecs(240)));
    EXPECT_FALSE(ConversationBackupPolicy::shouldAttempt(pendingRecord(1, start), start.addSecs(-3600)));
    EXPECT_TRUE(ConversationBackupPolicy::shouldAttempt(pendingRecord(50, start), start.addSecs(21'600)));

    for (auto state : { ConversationBackupState::stored, ConversationBackupState::abandoned,
             ConversationBackupState::declined }) {
        SCOPED_TRACE(toString(state).toStdString());
        for (auto record : { pendingRecord(0, std::nullopt), pendingRecord(2, start) }) {
            record.state = state;
            EXPECT_FALSE(ConversationBackupPolicy::shouldAttempt(record, start.addDays(365)));
        }
    }
}

TEST(ConversationBackupPolicy, ApplyingAnOutcomeGivesTheNextRecord)
{
    const QDateTime now = start.addSecs(500);
    const ConversationBackupRecord failing = pendingRecord(7, start);
    const auto next = [&](ConversationBackupState state, qint64 attempts, std::optional<QString> code,
                          QUuid conversationID = firstID) {
        return ConversationBackupRecord { .localID = localID,
            .conversationID = conversationID,
            .state = state,
            .attempts = attempts,
            .lastAttemptAt = now,
            .lastFailureCode = std::move(code) };
    };
    using enum ConversationBackupState;
    EXPECT_EQ(ConversationBackupPolicy::applying(Outcome::stored(), failing, now, freshID),
        next(stored, 0, std::nullopt));
    EXPECT_EQ(ConversationBackupPolicy::applying(Outcome::retryLater("offline"), failing, now, freshID),
        next(pending, 8, "offline"));
    EXPECT_EQ(ConversationBackupPolicy::applying(Outcome::retryWithNewIdentifier(), failing, now, freshID),
        next(pending, 8, "conversation_id_conflict", freshID));
    ConversationBackupRecord declinedRecord = failing;
    declinedRecord.state = declined;
    EXPECT_EQ(
        ConversationBackupPolicy::applying(Outcome::abandoned("status_400"), declinedRecord, now, freshID),
        next(abandoned, 8, "status_400"));

    // A count read from a damaged file saturates instead of wrapping to a negative one.
    const auto saturated = ConversationBackupPolicy::applying(Outcome::retryLater("offline"),
        pendingRecord(std::numeric_limits<qint64>::max(), start), now, freshID);
    EXPECT_EQ(saturated.attempts, std::numeric_limits<qint64>::max());
}

TEST(ConversationBackupRecord, StoredFormRoundTripsAndIsStrict)
{
    const ConversationBackupRecord record = pendingRecord(2, start);
    const QJsonObject json = record.toJson();
    EXPECT_EQ(json.value("localID").toString(), "AAAAAAAA-0000-4000-8000-000000000001");
    EXPECT_EQ(json.value("lastAttemptAt").toString(), "2026-12-06T12:00:00Z");
    EXPECT_EQ(ConversationBackupRecord::fromJson(json), record);

    EXPECT_EQ(pendingRecord(0, std::nullopt).toJson().keys(),
        (QStringList { "attempts", "conversationID", "localID", "state" }));
    // A deletion under way is written only while it is.
    ConversationBackupRecord deleting = record;
    deleting.deletionRequested = true;
    EXPECT_EQ(deleting.toJson().value("deletionRequested"), QJsonValue(true));
    EXPECT_EQ(ConversationBackupRecord::fromJson(deleting.toJson()), deleting);

    QJsonObject lowerCase = json;
    lowerCase.insert("localID", "aaaaaaaa-0000-4000-8000-000000000001");
    lowerCase.insert("lastAttemptAt", QJsonValue::Null);
    lowerCase.insert("lastFailureCode", QJsonValue::Null);
    ConversationBackupRecord expected = record;
    expected.lastAttemptAt.reset();
    expected.lastFailureCode.reset();
    EXPECT_EQ(ConversationBackupRecord::fromJson(lowerCase), expected);

    // An undefined value stands for a missing key.
    const QJsonValue missing(QJsonValue::Undefined);
    for (const auto& [key, value] :
        std::initializer_list<std::pair<const char*, QJsonValue>> { { "state", "Pending" },
            { "state", "waiting" }, { "state", missing }, { "attempts", "2" }, { "attempts", 2.5 },
            { "attempts", missing }, { "localID", QJsonValue::Null }, { "localID", missing },
            { "conversationID", "x" }, { "conversationID", missing }, { "lastAttemptAt", "yesterday" },
            { "lastAttemptAt", "2026-12-06T12:00:00.250Z" }, { "lastAttemptAt", "9999-12-31T23:59:59-00:01" },
            { "lastFailureCode", 5 }, { "deletionRequested", "yes" } }) {
        SCOPED_TRACE(key);
        QJsonObject bad = json;
        value.isUndefined() ? bad.remove(key) : void(bad.insert(key, value));
        EXPECT_FALSE(ConversationBackupRecord::fromJson(bad).has_value());
    }
}
