#include "providers/DeepgramClient.hpp"

#include "SpeechStandInFixture.hpp"

#include <QFile>
#include <QTemporaryDir>

namespace lumora {
namespace {

class DeepgramClientTest : public testing::SpeechStandInFixture {
protected:
    void SetUp() override
    {
        SpeechStandInFixture::SetUp();
        ASSERT_TRUE(testing::makeM4a(recording(), 2.5));
    }

    QString recording() const { return folder.filePath("recording.m4a"); }

    std::expected<DeepgramTranscript, ProviderFailure> transcribe(const DeepgramGrant& grant,
        std::chrono::milliseconds limit = DeepgramClient::defaultInactivityLimit, QString path = {})
    {
        const DeepgramClient client(manager, standIn->baseUrl(), tls(), limit);
        return test::awaitTask(client.transcribeFinal(
            QUrl::fromLocalFile(path.isEmpty() ? recording() : path), QStringLiteral("audio/mp4"), grant));
    }

    QTemporaryDir folder;
};

TEST_F(DeepgramClientTest, UploadsARealRecordingAndReadsTheTranscript)
{
    startStandIn({ "--script", scriptFile() });
    const auto transcript = transcribe(grant());
    ASSERT_TRUE(transcript.has_value());
    // Speaker 2 shares seat 0; words that start after the file's 2.5 seconds are not heard.
    const QList<SpeakerTurn> expected { SpeakerTurn(0, 0.2, 1.2, "You never listen."),
        SpeakerTurn(1, 1.5, 2.0, "Whatever."), SpeakerTurn(0, 2.3, 2.4, "I") };
    EXPECT_EQ(transcript->turns, expected);
    EXPECT_NEAR(transcript->duration, 2.5, 0.05);
}

struct Refusal {
    const char* name;
    QStringList hook;
    std::int64_t tokenLifetime;
    // Which failure arrives: the refusal, the decoder's or the network's.
    enum { invalidResponse, decodeError, transportError } kind;
};

TEST_F(DeepgramClientTest, EveryRefusalArrivesAsItsKind)
{
    const Refusal cases[] = {
        { "401 from the provider", { "--prerecorded-reply", "401" }, 300, Refusal::invalidResponse },
        { "expired token", {}, -5, Refusal::invalidResponse },
        { "500", { "--prerecorded-reply", "500" }, 300, Refusal::invalidResponse },
        { "204 with an empty body", { "--prerecorded-reply", "204" }, 300, Refusal::decodeError },
        { "malformed JSON", { "--prerecorded-reply", "malformed" }, 300, Refusal::decodeError },
        { "silence past the inactivity limit", { "--prerecorded-delay-ms", "1500" }, 300,
            Refusal::transportError },
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        startStandIn(c.hook);
        const auto result = transcribe(grant(c.tokenLifetime), std::chrono::milliseconds(500));
        ASSERT_FALSE(result.has_value());
        const auto* failure = result.error().as<ControlPlaneFailure>();
        ASSERT_NE(failure, nullptr);
        switch (c.kind) {
        case Refusal::invalidResponse:
            EXPECT_EQ(*failure, ControlPlaneFailure(ControlPlaneError::invalidResponse()));
            break;
        case Refusal::decodeError:
            EXPECT_TRUE(std::holds_alternative<JsonDecodeError>(*failure));
            break;
        case Refusal::transportError:
            EXPECT_TRUE(std::holds_alternative<TransportError>(*failure));
            break;
        }
        stopStandIn();
    }
}

TEST_F(DeepgramClientTest, AForgedTokenOrAMissingFileNeverReachesATranscript)
{
    startStandIn();
    const DeepgramGrant forged { standIn->token(300, "another secret, also long enough to sign"), 300 };
    const auto refused = transcribe(forged);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(*refused.error().as<ControlPlaneFailure>(),
        ControlPlaneFailure(ControlPlaneError::invalidResponse()));

    const auto missing
        = transcribe(grant(), DeepgramClient::defaultInactivityLimit, folder.filePath("gone.m4a"));
    ASSERT_FALSE(missing.has_value());
    EXPECT_TRUE(std::holds_alternative<TransportError>(*missing.error().as<ControlPlaneFailure>()));
}

TEST_F(DeepgramClientTest, SendsExactlyTheRequestOfTheWireFormat)
{
    const testing::ScriptedServer server(200, R"({"metadata":{},"results":{"channels":[]}})");
    const DeepgramClient client(manager, server.baseUrl());
    const auto transcript = test::awaitTask(client.transcribeFinal(
        QUrl::fromLocalFile(recording()), QStringLiteral("audio/x-test; codec=aac"), { "tok.en", 60 }));
    EXPECT_EQ(transcript, (DeepgramTranscript { 0, {} }));
    ASSERT_EQ(server.requests().size(), 1);
    const testing::RecordedRequest& request = server.requests().first();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target,
        "/v1/"
        "listen?model=nova-3&diarize=true&smart_format=true&punctuate=true&utterances=true&mip_opt_out=true");
    EXPECT_EQ(request.header("Authorization"), "Bearer tok.en");
    EXPECT_EQ(request.header("Content-Type"), "audio/x-test; codec=aac");
    QFile file(recording());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(request.body, file.readAll());
}

} // namespace
} // namespace lumora
