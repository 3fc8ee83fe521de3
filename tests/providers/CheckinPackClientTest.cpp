#include "ClientFixture.hpp"

namespace lumora {
namespace {

using testing::await;

using CheckinPackReplyTest = testing::ScriptedClientTest;

TEST_F(CheckinPackReplyTest, ThePackIsReadAsItStandsAndNotJudged)
{
    const QByteArray section = R"({"id":"a","title":"A","suggested_minutes":1,"prompts":[{"text":"Hi?"}]})";
    struct Case {
        int status;
        QByteArray body;
        std::expected<CheckinPack, ControlPlaneFailure> expected;
    };
    const CheckinPack sparse { .week = "2026-W07",
        .source = CheckinPackSource::fallback,
        .generatedAt = 0,
        .note = std::nullopt,
        .questionID = {},
        .sections = { CheckinSection { "a", "A", 1, { CheckinPrompt { "Hi?", std::nullopt } } } } };
    const Case cases[] = {
        // Optional keys absent, an unknown source, one section: read, not refused.
        { 200, R"({"pack":{"week":"2026-W07","source":"generated","sections":[)" + section + "]}}", sparse },
        { 200,
            R"({"pack":{"week":"2026-W07","source":"model","note":null,"sections":[)" + section
                + R"(],"generated_at":1770595200,"question_id":"q"},"extra":1})",
            CheckinPack {
                "2026-W07", CheckinPackSource::model, 1770595200, std::nullopt, "q", sparse.sections } },
        { 404, R"({"error":"not_found"})",
            std::unexpected(ControlPlaneError::rejectedWithCode(404, "not_found")) },
        { 500, "", std::unexpected(ControlPlaneError::rejected(500)) },
    };
    for (const Case& item : cases) {
        testing::ScriptedServer server(item.status, item.body);
        EXPECT_EQ(await(clientFor(server).checkinPack()), item.expected) << item.body.toStdString();
        ASSERT_EQ(server.requests().size(), 1);
        EXPECT_EQ(server.requests()[0].method, "GET");
        EXPECT_EQ(server.requests()[0].target, "/v1/content/checkins/pack");
        EXPECT_TRUE(server.requests()[0].body.isEmpty());
        EXPECT_TRUE(server.requests()[0].header("Authorization").startsWith("Device "));
    }
    for (const QByteArray& body : { QByteArray(R"({"ok":true})"),
             QByteArray(R"({"pack":{"week":"2026-W07","source":"model"}})"), QByteArray("[]"),
             QByteArray(
                 R"({"pack":{"week":"2026-W07","source":"model","sections":[],"generated_at":"x"}})") }) {
        testing::ScriptedServer server(200, body);
        EXPECT_TRUE(testing::isDecodeError(await(clientFor(server).checkinPack()))) << body.toStdString();
    }
}

} // namespace
} // namespace lumora
