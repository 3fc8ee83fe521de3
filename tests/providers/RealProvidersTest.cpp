#include "AnalysisFindings.hpp"
#include "ProviderStandIn.hpp"
#include "RealControlPlaneFixture.hpp"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <sys/stat.h>

namespace lumora {
namespace {

using testing::failureOf;
using testing::findings;
using testing::refusal;
using testing::StandInReply;
using testing::StandInRequest;

const QList<SpeakerTurn> argument { SpeakerTurn(0, 0, 4, "You never listen"),
    SpeakerTurn(1, 4, 5, "Whatever."), SpeakerTurn(0, 5, 9, "I'm sorry, I see what you mean") };

std::string messageWith(const char* answer)
{
    const QJsonObject reply { { "type", "message" }, { "role", "assistant" }, { "model", "model-e2e-1" },
        { "content", QJsonArray { QJsonObject { { "type", "text" }, { "text", answer } } } },
        { "stop_reason", "end_turn" },
        { "usage", QJsonObject { { "input_tokens", 10 }, { "output_tokens", 5 } } } };
    return QJsonDocument(reply).toJson().toStdString();
}

// The real control plane started with keys for both providers, each provider a stand-in
// over TLS on loopback whose CA the server trusts through SSL_CERT_FILE.
class RealProvidersTest : public testing::RealControlPlaneFixture {
protected:
    void SetUp() override
    {
        qputenv("SSL_CERT_FILE", certificates.caCertificate().toLocal8Bit());
        RealControlPlaneFixture::SetUp();
    }

    void TearDown() override
    {
        RealControlPlaneFixture::TearDown();
        qunsetenv("SSL_CERT_FILE");
    }

    QStringList extraServerArguments() const override
    {
        const QString key = keyDir.filePath("provider.key");
        QFile file(key);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("provider-key-e2e\n");
        file.close();
        EXPECT_EQ(::chmod(key.toLocal8Bit().constData(), 0600), 0);
        return { "--deepgram-api-key-file", key, "--deepgram-url", QString::fromStdString(speech.url()),
            "--anthropic-api-key-file", key, "--anthropic-url", QString::fromStdString(model.url()) };
    }

    // A ten-minute reservation of a new conversation session of the client's account.
    UsageReservation reservationFor(const ControlPlaneClient& client)
    {
        const auto session = test::awaitTask(client.createConversationSession());
        EXPECT_TRUE(session.has_value() && session->sessionID);
        if (!session || !session->sessionID)
            return {};
        const auto reservation = test::awaitTask(client.reserve(*session->sessionID, 600));
        EXPECT_TRUE(reservation.has_value());
        return reservation.value_or(UsageReservation {});
    }

    QTemporaryDir keyDir;
    testing::ProviderStandIn speech { certificates.serverCertificate(), certificates.serverKey(),
        [](const StandInRequest&) {
            return StandInReply { 200, R"({"access_token":"jwt.e2e","expires_in":300})" };
        } };
    testing::ProviderStandIn model { certificates.serverCertificate(), certificates.serverKey(),
        [](const StandInRequest&) {
            return StandInReply {
                200,
                messageWith(
                    R"({"summary":"It turned.","annotations":[{"turn_index":2,"code":"repair","confidence":0.9}]})")
            };
        } };
};

TEST_F(RealProvidersTest, TheApplicationsClientGetsTheProvidersGrantAndAnalysis)
{
    const DeviceIdentity key = testing::newIdentity();
    const ControlPlaneClient client(base, signIn(key, "Ada").deviceID, key, manager);
    const UsageReservation reservation = reservationFor(client);

    EXPECT_EQ(test::awaitTask(client.deepgramGrant(reservation.id)), (DeepgramGrant { "jwt.e2e", 300 }));
    ASSERT_EQ(speech.requests().size(), 1u);
    EXPECT_EQ(speech.requests()[0].header("Authorization"), "Token provider-key-e2e");

    const auto live = test::awaitTask(client.analyze(
        AnalysisPass::live, AnalysisRubric::conversation, argument, LiveAnalysisContext(1), reservation.id));
    ASSERT_TRUE(live.has_value());
    EXPECT_EQ(live->model, "model-e2e-1");
    EXPECT_EQ(findings(*live), (QStringList { "2:repair" }));
    EXPECT_EQ(model.requests().at(0).header("x-api-key"), "provider-key-e2e");

    // The providers fail: no token, and the final analysis still comes, from the rules.
    speech.setScript([](const StandInRequest&) { return StandInReply { 500, "{}" }; });
    model.setScript([](const StandInRequest&) { return StandInReply { 500, "{}" }; });
    EXPECT_EQ(failureOf(test::awaitTask(client.deepgramGrant(reservation.id))),
        refusal(503, "provider_token_unavailable"));
    const auto final = test::awaitTask(
        client.analyze(AnalysisPass::final, AnalysisRubric::conversation, argument, {}, reservation.id));
    ASSERT_TRUE(final.has_value());
    EXPECT_EQ(final->model, "lumora-rules-1");
    EXPECT_EQ(model.requests().size(), 4u); // one live call, three final attempts

    const QString log = server->log();
    EXPECT_TRUE(log.contains("final analysis answered by the rule-based analyzer")) << log.toStdString();
    EXPECT_FALSE(log.contains("provider-key-e2e"));
}

// The same server with small limits on what one reservation may cost.
class LimitedProvidersTest : public RealProvidersTest {
protected:
    QStringList extraServerArguments() const override
    {
        return RealProvidersTest::extraServerArguments()
            + QStringList { "--provider-rate-per-reservation", "3", "--prompt-limit", "16K" };
    }
};

TEST_F(LimitedProvidersTest, PaidCallsStopAtTheConfiguredLimits)
{
    const DeviceIdentity key = testing::newIdentity();
    const ControlPlaneClient client(base, signIn(key, "Ada").deviceID, key, manager);
    const UsageReservation reservation = reservationFor(client);
    const auto analyzed = [&](const QList<SpeakerTurn>& turns) {
        const auto result = test::awaitTask(client.analyze(
            AnalysisPass::live, AnalysisRubric::conversation, turns, LiveAnalysisContext(1), reservation.id));
        return result ? result->model : QStringLiteral("failed");
    };

    // A prompt past its limit is answered by the rules and costs no call.
    const QList<SpeakerTurn> oversized { SpeakerTurn(0, 0, 60, QString(20'000, u'a')) };
    EXPECT_EQ(analyzed(oversized), "lumora-rules-1");
    EXPECT_TRUE(model.requests().empty());

    EXPECT_TRUE(test::awaitTask(client.deepgramGrant(reservation.id)).has_value());
    EXPECT_EQ(analyzed(argument), "model-e2e-1");
    EXPECT_EQ(failureOf(test::awaitTask(client.deepgramGrant(reservation.id))),
        refusal(429, "too_many_provider_calls"));
    EXPECT_EQ(analyzed(argument), "lumora-rules-1");
    EXPECT_EQ(model.requests().size(), 1u);
    EXPECT_EQ(speech.requests().size(), 1u);
}

} // namespace
} // namespace lumora
