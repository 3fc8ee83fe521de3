#include "providers/ControlPlaneJson.hpp"

#include "providers/AccountRecords.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace lumora {
namespace {

TEST(ControlPlaneJson, FieldNamesBecomeSnakeCaseKeys)
{
    const std::pair<const char*, const char*> cases[] = {
        { "reservationID", "reservation_id" },
        { "latencyMS", "latency_ms" },
        { "sessionID", "session_id" },
        { "requestedSeconds", "requested_seconds" },
        { "devicePublicKey", "device_public_key" },
        { "myURLValue", "my_url_value" },
        { "ok", "ok" },
        { "eventID", "event_id" },
        { "allCAPS", "all_caps" },
        { "a", "a" },
        { "", "" },
    };
    for (const auto& [name, key] : cases)
        EXPECT_EQ(ControlPlaneEncoder::snakeCaseKey(QString::fromLatin1(name)), key) << name;
}

TEST(ControlPlaneJson, ReplyKeysBecomeFieldNames)
{
    const std::pair<const char*, const char*> cases[] = {
        { "account_id", "accountID" },
        { "authorization_url", "authorizationURL" },
        { "expires_in", "expiresIn" },
        { "maximum_seconds", "maximumSeconds" },
        { "next_cursor", "nextCursor" },
        { "requested_by_me", "requestedByMe" },
        { "latency_ms", "latencyMS" },
        { "error", "error" },
        { "id", "id" },
        { "url", "url" },
        { "Account_id", "AccountID" },
        { "accountID", "accountID" },
        { "account_Id", "accountId" },
        { "account_ID", "accountID" },
        { "reservation_uRL", "reservationURL" },
        { "_leading__double_trailing_", "leadingDoubleTrailing" },
        { "", "" },
        { "___", "" },
    };
    for (const auto& [key, name] : cases)
        EXPECT_EQ(ControlPlaneDecoder::fieldName(QString::fromLatin1(key)), name) << key;
}

TEST(ControlPlaneJson, ConversionReachesNestedObjectsAndArrays)
{
    const QByteArray encoded
        = ControlPlaneEncoder().encode({ { "outerKey", QJsonObject { { "innerID", 1 } } },
            { "listItems", QJsonArray { QJsonObject { { "itemURL", "u" } } } } });
    EXPECT_EQ(QJsonDocument::fromJson(encoded).object(),
        (QJsonObject { { "outer_key", QJsonObject { { "inner_id", 1 } } },
            { "list_items", QJsonArray { QJsonObject { { "item_url", "u" } } } } }));
    EXPECT_EQ(ControlPlaneDecoder::convertKeys(QJsonDocument::fromJson(encoded).object()).toObject(),
        (QJsonObject { { "outerKey", QJsonObject { { "innerID", 1 } } },
            { "listItems", QJsonArray { QJsonObject { { "itemURL", "u" } } } } }));
}

TEST(AccountRecords, AccountStateDecodesEitherCaseAndNeedsBothIdentifiers)
{
    const auto decoder = makeControlPlaneDecoder();
    const auto upper = decoder.decode<AccountState>(
        R"({"account_id":"0A1B2C3D-0000-4000-8000-00000000000A","device_id":"0a1b2c3d-0000-4000-8000-00000000000b","x":1})");
    ASSERT_TRUE(upper.has_value());
    EXPECT_EQ(upper->accountID, QUuid::fromString(QStringLiteral("0a1b2c3d-0000-4000-8000-00000000000a")));
    EXPECT_EQ(upper->deviceID, QUuid::fromString(QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000B")));
    EXPECT_FALSE(decoder.decode<AccountState>(R"({"account_id":"0a1b2c3d-0000-4000-8000-00000000000a"})"));
    EXPECT_FALSE(decoder.decode<AccountState>(
        R"({"account_id":"nope","device_id":"0a1b2c3d-0000-4000-8000-00000000000a"})"));
    EXPECT_FALSE(decoder.decode<DeepgramGrant>(R"({"access_token":"t"})"));
    EXPECT_EQ(decoder.decode<DeepgramGrant>(R"({"access_token":"t","expires_in":30})"),
        (DeepgramGrant { "t", 30 }));
}

TEST(AccountRecords, VocabulariesAcceptExactlyTheirRawValues)
{
    EXPECT_EQ(
        fromString<DiagnosticEventType>(u"unclean_termination"), DiagnosticEventType::uncleanTermination);
    EXPECT_FALSE(fromString<DiagnosticEventType>(u"uncleanTermination"));
    EXPECT_EQ(fromString<DeepgramOperation>(u"finalTranscription"), DeepgramOperation::finalTranscription);
    EXPECT_FALSE(fromString<DeepgramOperation>(u"final_transcription"));
    EXPECT_EQ(fromString<ProductAnalyticsEvent>(u"result_reviewed"), ProductAnalyticsEvent::resultReviewed);
    EXPECT_FALSE(fromString<ProductAnalyticsEvent>(u"App_opened"));
}

TEST(AccountRecords, RecordsRoundTripThroughTheirOwnJson)
{
    const ConversationSessionState full { QUuid::createUuid(), QStringLiteral("draft"),
        QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC) };
    EXPECT_EQ(ConversationSessionState::fromJson(full.toJson()), full);
    const ConversationSessionState empty;
    EXPECT_TRUE(empty.toJson().isEmpty());
    EXPECT_EQ(ConversationSessionState::fromJson(empty.toJson()), empty);
    const UsageReservation reservation { QUuid::createUuid(), 2700.5 };
    EXPECT_EQ(UsageReservation::fromJson(reservation.toJson()), reservation);
    const DeviceRegistration registration { QUuid::createUuid(), QUuid::createUuid() };
    EXPECT_EQ(DeviceRegistration::fromJson(registration.toJson()), registration);
}

} // namespace
} // namespace lumora
