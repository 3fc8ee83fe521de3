#include "wire/ControlPlaneJson.hpp"

#include "providers/AccountRecords.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace lumora {
namespace {

TEST(ControlPlaneJson, FieldNamesAndReplyKeysConvert)
{
    const std::pair<const char*, const char*> toKey[]
        = { { "reservationID", "reservation_id" }, { "latencyMS", "latency_ms" },
              { "myURLValue", "my_url_value" }, { "allCAPS", "all_caps" }, { "ok", "ok" }, { "", "" } };
    for (const auto& [name, key] : toKey)
        EXPECT_EQ(ControlPlaneEncoder::snakeCaseKey(QString::fromLatin1(name)), key) << name;

    const std::pair<const char*, const char*> toName[] = { { "account_id", "accountID" },
        { "authorization_url", "authorizationURL" }, { "expires_in", "expiresIn" },
        { "requested_by_me", "requestedByMe" }, { "latency_ms", "latencyMS" }, { "id", "id" },
        { "url", "url" }, { "Account_id", "AccountID" }, { "accountID", "accountID" },
        { "account_Id", "accountId" }, { "reservation_uRL", "reservationURL" },
        { "_leading__double_trailing_", "leadingDoubleTrailing" }, { "", "" }, { "___", "" } };
    for (const auto& [key, name] : toName)
        EXPECT_EQ(ControlPlaneDecoder::fieldName(QString::fromLatin1(key)), name) << key;
}

TEST(ControlPlaneJson, ConversionReachesNestedObjectsAndArrays)
{
    const QJsonObject fields { { "outerKey", QJsonObject { { "innerID", 1 } } },
        { "listItems", QJsonArray { QJsonObject { { "itemURL", "u" } } } } };
    const QByteArray encoded = ControlPlaneEncoder().encode(fields);
    EXPECT_EQ(QJsonDocument::fromJson(encoded).object(),
        (QJsonObject { { "outer_key", QJsonObject { { "inner_id", 1 } } },
            { "list_items", QJsonArray { QJsonObject { { "item_url", "u" } } } } }));
    EXPECT_EQ(ControlPlaneDecoder::convertKeys(QJsonDocument::fromJson(encoded).object()).toObject(), fields);
}

TEST(AccountRecords, RepliesNeedEveryFieldAndVocabulariesTheirRawValues)
{
    const auto decoder = makeControlPlaneDecoder();
    EXPECT_FALSE(decoder.decode<AccountState>(R"({"account_id":"0a1b2c3d-0000-4000-8000-00000000000a"})"));
    EXPECT_FALSE(decoder.decode<AccountState>(
        R"({"account_id":"nope","device_id":"0a1b2c3d-0000-4000-8000-00000000000a"})"));
    EXPECT_FALSE(decoder.decode<DeepgramGrant>(R"({"access_token":"t"})"));

    EXPECT_EQ(
        fromString<DiagnosticEventType>(u"unclean_termination"), DiagnosticEventType::uncleanTermination);
    EXPECT_FALSE(fromString<DiagnosticEventType>(u"uncleanTermination"));
    EXPECT_EQ(fromString<DeepgramOperation>(u"finalTranscription"), DeepgramOperation::finalTranscription);
    EXPECT_FALSE(fromString<DeepgramOperation>(u"final_transcription"));
    EXPECT_FALSE(fromString<ProductAnalyticsEvent>(u"App_opened"));
}

} // namespace
} // namespace lumora
