#include "ClientFixture.hpp"

namespace lumora {
namespace {

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
        { 404, R"({"error":"not_found"})",
            std::unexpected(ControlPlaneError::rejectedWithCode(404, "not_found")) },
    };
    for (const Case& item : cases) {
        testing::ScriptedServer server(item.status, item.body);
        EXPECT_EQ(test::awaitTask(clientFor(server).checkinPack()), item.expected) << item.body.toStdString();
    }
    for (const QByteArray& body : { QByteArray(R"({"ok":true})"),
             QByteArray(R"({"pack":{"week":"2026-W07","source":"model"}})"), QByteArray("[]"),
             QByteArray(
                 R"({"pack":{"week":"2026-W07","source":"model","sections":[],"generated_at":"x"}})") }) {
        testing::ScriptedServer server(200, body);
        EXPECT_TRUE(testing::isDecodeError(test::awaitTask(clientFor(server).checkinPack())))
            << body.toStdString();
    }
}

} // namespace
} // namespace lumora
