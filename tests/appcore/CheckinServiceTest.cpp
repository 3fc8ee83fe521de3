#include "appcore/CheckinService.hpp"

#include "ServicesFixture.hpp"
#include "appcore/ServiceFailureCode.hpp"
#include "domain/CheckinBundledPack.hpp"

namespace lumora {
namespace {

using testing::settle;

// Answers every request with one reply.
class ScriptedPackClient final : public CheckinPackClient {
public:
    explicit ScriptedPackClient(std::expected<CheckinPack, ControlPlaneFailure> reply)
        : m_reply(std::move(reply))
    {
    }
    QCoro::Task<std::expected<CheckinPack, ControlPlaneFailure>> checkinPack() const override
    {
        co_return m_reply;
    }

private:
    std::expected<CheckinPack, ControlPlaneFailure> m_reply;
};

CheckinPack packOf(qsizetype sections, const QString& prompt = QStringLiteral("How was your week?"))
{
    CheckinPack pack {
        .week = "2026-W07", .source = CheckinPackSource::model, .generatedAt = 7, .questionID = "q"
    };
    for (qsizetype index = 0; index < sections; ++index)
        pack.sections.append(
            CheckinSection { QString::number(index), "Part", 2, { CheckinPrompt { prompt, {} } } });
    return pack;
}

using CheckinServiceTest = testing::ServicesTest;

TEST_F(CheckinServiceTest, TheServersPackUnlessItIsUnusableOrUnavailable)
{
    // The real server's pack of this week, as it came.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto client = account("Ada");
    const CheckinPack served = settle(CheckinService::create(client)->pack(now));
    EXPECT_EQ(served.source, CheckinPackSource::model);
    EXPECT_TRUE(served.isUsable());
    EXPECT_TRUE(log.take("checkin").isEmpty());

    // In the west it is still Sunday evening; in UTC the next week has begun.
    const QDateTime sundayEvening = QDateTime::fromString("2026-02-15T23:30:00-05:00", Qt::ISODate);
    const CheckinPack builtIn = CheckinBundledPack::pack(sundayEvening);
    EXPECT_EQ(builtIn.week, "2026-W08");

    CheckinPack promptless = packOf(5);
    promptless.sections[2].prompts.clear();
    const std::pair<CheckinPack, bool> packs[] = {
        { packOf(5), true },
        { packOf(5, "   "), true },
        { packOf(4), false },
        { packOf(6), false },
        { packOf(5, ""), false },
        { promptless, false },
    };
    for (const auto& [pack, usable] : packs) {
        const CheckinPack chosen
            = settle(CheckinService::create(std::make_shared<ScriptedPackClient>(pack))->pack(sundayEvening));
        EXPECT_EQ(chosen, usable ? pack : builtIn);
        EXPECT_EQ(log.take("checkin"),
            usable ? QStringList()
                   : QStringList { "Check-in pack was incomplete; using the bundled prompts." });
    }

    const std::pair<ControlPlaneFailure, QString> failures[] = {
        { ControlPlaneError::rejected(503), "status_503" },
        { ControlPlaneError::rejectedWithCode(429, "rate_limited"), "rate_limited" },
        { ControlPlaneError::invalidResponse(), "invalid_response" },
        { JsonDecodeError { "pack: missing" }, "offline" },
    };
    for (const auto& [failure, code] : failures) {
        const auto scripted = std::make_shared<ScriptedPackClient>(std::unexpected(failure));
        EXPECT_EQ(settle(CheckinService::create(scripted)->pack(sundayEvening)), builtIn);
        EXPECT_EQ(log.take("checkin"), QStringList { "Check-in pack unavailable: " + code });
    }
    EXPECT_EQ(settle(CheckinService::create(unreachable())->pack(sundayEvening)), builtIn);
    EXPECT_EQ(log.take("checkin"), QStringList { "Check-in pack unavailable: url_error_1" });
}

TEST(ServiceFailureCodeTest, OneShortCodePerFailure)
{
    const std::pair<ControlPlaneFailure, QString> rows[] = {
        { ControlPlaneError::rejected(503), "status_503" },
        { ControlPlaneError::rejectedWithCode(409, "conversation_id_conflict"), "conversation_id_conflict" },
        { ControlPlaneError::invalidResponse(), "invalid_response" },
        { TransportError { QNetworkReply::ConnectionRefusedError, "refused" }, "url_error_1" },
        { TransportError { QNetworkReply::OperationCanceledError, "cancelled" }, "url_error_5" },
        { TransportError { -1, "unknown" }, "url_error_-1" },
        { CryptoError::randomUnavailable, "offline" },
        { JsonDecodeError { "summary: missing" }, "offline" },
    };
    for (const auto& [failure, code] : rows)
        EXPECT_EQ(ServiceFailureCode::of(failure), code);
}

} // namespace
} // namespace lumora
