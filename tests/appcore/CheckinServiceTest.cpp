#include "appcore/CheckinService.hpp"

#include "ServicesFixture.hpp"
#include "domain/CheckinBundledPack.hpp"

namespace lumora {
namespace {

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

CheckinPack packOf(qsizetype sections, const QString& prompt = "How was your week?", qsizetype prompts = 1)
{
    CheckinPack pack;
    pack.week = "2026-W07";
    pack.source = CheckinPackSource::model;
    for (qsizetype index = 0; index < sections; ++index)
        pack.sections.append(
            CheckinSection { "s", "Part", 2, QList<CheckinPrompt>(prompts, { prompt, {} }) });
    return pack;
}

using CheckinServiceTest = testing::ServicesTest;

TEST_F(CheckinServiceTest, TheServersPackUnlessItIsUnusableOrUnavailable)
{
    const CheckinPack served
        = test::awaitTask(CheckinService::create(account("Ada"))->pack(QDateTime::currentDateTimeUtc()));
    EXPECT_EQ(served.source, CheckinPackSource::model);
    EXPECT_TRUE(served.isUsable());

    // Still Sunday evening west of UTC, but the built-in pack is that of the UTC week.
    const QDateTime sundayEvening = QDateTime::fromString("2026-02-15T23:30:00-05:00", Qt::ISODate);
    const CheckinPack builtIn = CheckinBundledPack::pack(sundayEvening);
    EXPECT_EQ(builtIn.week, "2026-W08");
    const auto packFrom = [&](std::expected<CheckinPack, ControlPlaneFailure> reply) {
        return test::awaitTask(
            CheckinService::create(std::make_shared<ScriptedPackClient>(reply))->pack(sundayEvening));
    };
    EXPECT_EQ(packFrom(packOf(5, "   ")), packOf(5, "   "));
    EXPECT_TRUE(log.take().isEmpty());

    for (const CheckinPack& unusable : { packOf(4), packOf(6), packOf(5, ""), packOf(5, "Hi?", 0) })
        EXPECT_EQ(packFrom(unusable), builtIn);
    EXPECT_EQ(
        log.take(), QStringList(4, "checkin: Check-in pack was incomplete; using the bundled prompts."));

    const ControlPlaneFailure failures[] = { ControlPlaneError::rejected(503),
        ControlPlaneError::rejectedWithCode(429, "rate_limited"), ControlPlaneError::invalidResponse(),
        JsonDecodeError { "pack: missing" }, CryptoError::randomUnavailable };
    for (const ControlPlaneFailure& failure : failures)
        EXPECT_EQ(packFrom(std::unexpected(failure)), builtIn);
    EXPECT_EQ(test::awaitTask(CheckinService::create(unreachable())->pack(sundayEvening)), builtIn);
    QStringList unavailable;
    for (const char* code :
        { "status_503", "rate_limited", "invalid_response", "offline", "offline", "url_error_1" })
        unavailable.append(QString("checkin: Check-in pack unavailable: ") + code);
    EXPECT_EQ(log.take(), unavailable);
}

} // namespace
} // namespace lumora
