#include "RealControlPlaneFixture.hpp"
#include "domain/CheckinWeek.hpp"
#include "security/RequestSigner.hpp"

namespace lumora {
namespace {

using testing::failureOf;
using testing::sendRequest;

ControlPlaneFailure refusal(const char* code)
{
    return testing::refusal(401, code);
}

using RealControlPlaneTest = testing::RealControlPlaneFixture;

TEST_F(RealControlPlaneTest, SignsInAndMakesEveryAccountCall)
{
    const DeviceRegistration registration = signIn(identity, "Ada & Bob's account");
    const ControlPlaneClient client(base, registration.deviceID, identity, manager);

    EXPECT_EQ(test::awaitTask(client.accountState()),
        (AccountState { registration.accountID, registration.deviceID }));
    const auto draft = test::awaitTask(client.createConversationSession());
    ASSERT_TRUE(draft.has_value());
    EXPECT_EQ(draft->status, "draft");
    EXPECT_EQ(test::awaitTask(client.currentConversationSession()), *draft);
    EXPECT_TRUE(
        test::awaitTask(client.reportDiagnostic(DiagnosticEventType::uncleanTermination, "observed")));
    EXPECT_TRUE(
        test::awaitTask(client.reportProductEvent(ProductAnalyticsEvent::resultReviewed, "0.1.0 (1)")));

    // A usable check-in pack of this week, the same one twice within it.
    const QString weekBefore = CheckinWeek::key(QDateTime::currentDateTimeUtc(), CheckinWeek::packCalendar());
    const auto pack = test::awaitTask(client.checkinPack());
    const auto again = test::awaitTask(client.checkinPack());
    const QString weekAfter = CheckinWeek::key(QDateTime::currentDateTimeUtc(), CheckinWeek::packCalendar());
    ASSERT_TRUE(pack.has_value());
    EXPECT_TRUE(pack->isUsable());
    EXPECT_EQ(pack->source, CheckinPackSource::model);
    EXPECT_TRUE(pack->week == weekBefore || pack->week == weekAfter) << pack->week.toStdString();
    EXPECT_GT(pack->generatedAt, 0);
    if (weekBefore == weekAfter) {
        EXPECT_EQ(again, pack);
    }

    // The same key recovers the same registration.
    EXPECT_EQ(test::awaitTask(ControlPlaneBootstrap::recoverRegisteredDevice(base, identity, manager)),
        registration);

    // A second computer of the same account, revoked by the first.
    const DeviceIdentity laptop = testing::newIdentity();
    const DeviceRegistration second = signIn(laptop, "Ada & Bob's account");
    EXPECT_EQ(second.accountID, registration.accountID);
    const ControlPlaneClient laptopClient(base, second.deviceID, laptop, manager);
    EXPECT_TRUE(test::awaitTask(laptopClient.accountState()));
    EXPECT_TRUE(test::awaitTask(client.revoke(second.deviceID)));
    EXPECT_EQ(failureOf(test::awaitTask(laptopClient.accountState())), refusal("device_revoked"));

    // Deleting the account locks out its devices; its key no longer recovers anything.
    EXPECT_TRUE(test::awaitTask(client.deleteAccount()));
    EXPECT_EQ(failureOf(test::awaitTask(client.accountState())), refusal("unknown_device"));
    const auto recovered
        = test::awaitTask(ControlPlaneBootstrap::recoverRegisteredDevice(base, identity, manager));
    ASSERT_TRUE(recovered.has_value());
    EXPECT_FALSE(recovered->has_value());
    // The identity-token registration has no provider behind the development control plane.
    EXPECT_EQ(failureOf(test::awaitTask(
                  ControlPlaneBootstrap::registerDevice(base, "token", identity, "macos", manager))),
        testing::refusal(503, "apple_sign_in_not_configured"));
}

TEST_F(RealControlPlaneTest, ForgedStaleAndReplayedRequestsAreRefused)
{
    const DeviceRegistration registration = signIn(identity, "Ada");

    const ControlPlaneClient forger(base, registration.deviceID, testing::newIdentity(), manager);
    EXPECT_EQ(failureOf(test::awaitTask(forger.accountState())), refusal("invalid_signature"));

    const ControlPlaneClient slowClock(base, registration.deviceID, identity, manager,
        [] { return QDateTime::currentDateTimeUtc().addSecs(-301); });
    EXPECT_EQ(failureOf(test::awaitTask(slowClock.accountState())), refusal("stale_timestamp"));

    const auto headers = RequestSigner::sign(identity, registration.deviceID, u"GET", u"/v1/account/state",
        {}, QDateTime::currentDateTimeUtc(), QUuid::createUuid());
    ASSERT_TRUE(headers.has_value());
    const QList<std::pair<QByteArray, QByteArray>> authorization { { "Authorization",
        headers->authorization().toLatin1() } };
    const QUrl state = base.resolved(QUrl("/v1/account/state"));
    EXPECT_EQ(sendRequest(manager, "GET", state, {}, authorization).status, 200);
    const auto replay = sendRequest(manager, "GET", state, {}, authorization);
    EXPECT_EQ(replay.status, 401);
    EXPECT_EQ(replay.body, R"({"error":"replayed_nonce"})");
}

} // namespace
} // namespace lumora
