#include "SpokenConversationTest.hpp"
#include "appcore/SessionCoordinator.hpp"
#include "audio/NativeAudioCapture.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/ReservationStore.hpp"
#include "domain/TurnGrouping.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "providers/DeepgramClient.hpp"
#include "providers/DeepgramLiveSession.hpp"
#include "security/KeychainKeyStore.hpp"

#include <QElapsedTimer>
#include <QSet>
#include <QTimeZone>
#include <cmath>

namespace lumora {
namespace {

// Two partners in two espeak-ng voices: a criticism that globalizes and piles on, a repair, a
// thank-you, and an old hurt brought back.
const test::SpokenLine conversation[] = {
    { 0, "en-us", "You never listen to me, and another thing, the dishes are still in the sink." },
    { 1, "en-gb+f3", "I am sorry. I see what you mean." },
    { 0, "en-us", "Thank you. I appreciate that." },
    { 1, "en-gb+f3", "Remember when we talked about this last summer?" },
};

constexpr double firstLineAt = 1.5; // seconds into the recording
constexpr double pauseBetweenLines = 0.8;
constexpr qint64 recordingMilliseconds = 20000;

// The turn indexes at which each finding was made, as "index:name".
template <typename Annotation, typename Name> QSet<QString> findings(const QList<Annotation>& list, Name name)
{
    QSet<QString> found;
    for (const Annotation& annotation : list)
        found.insert(QStringLiteral("%1:%2").arg(annotation.turnIndex).arg(name(annotation)));
    return found;
}

// A conversation with real parts only: the control plane and the speech stand-in as processes
// on loopback TLS, the virtual microphone, the capture, the live session and the coordinator.
class ConversationEndToEndTest : public test::SpokenConversationTest {
protected:
    ConversationEndToEndTest()
        : SpokenConversationTest(conversation, firstLineAt, pauseBetweenLines)
    {
    }
};

TEST_F(ConversationEndToEndTest, ATwoVoiceConversationEndsInASealedReviewAndAFinalizedReservation)
{
    // Every line ends well inside the recording, so that the live stream hears all of them.
    EXPECT_LT(scripted.endsAt, double(recordingMilliseconds) / 1000 - 2);
    const DeviceIdentity identity(P256PrivateKey::generate().value());
    const DeviceRegistration registration = signIn(identity);
    ASSERT_FALSE(registration.deviceID.isNull());
    const auto client = std::make_shared<ControlPlaneClient>(
        controlPlane->baseUrl(), registration.deviceID, identity, manager);
    const auto keys
        = std::make_shared<KeychainKeyStore>(u"com.lumora.native.test-"_qs + QUuid::createUuid().toString());
    const QTemporaryDir storage;
    const QString resultsFolder = storage.filePath("Results");
    auto results = EncryptedResultStore::create(resultsFolder, keys);
    ASSERT_TRUE(results.has_value());
    auto temporary = TemporaryConversationStore::create(storage.filePath("Lumora-Conversation"));
    ASSERT_TRUE(temporary.has_value());
    const auto coordinator = SessionCoordinator::create(client, client,
        std::make_shared<DeepgramClient>(manager, speech->baseUrl()), client, client, *results, *temporary,
        ConversationMarks::create(storage.filePath("Marks")).value());

    const auto draft = test::awaitTask(client->createConversationSession());
    ASSERT_TRUE(draft.has_value() && draft->sessionID.has_value());
    const auto prepared
        = test::awaitTask(coordinator->prepare(*draft->sessionID, 3600, ConversationMode::conversation));
    ASSERT_TRUE(prepared.has_value());
    const QString recording = prepared->audioURL.toLocalFile();

    // Live: each settled turn is accepted by the coordinator; the PCM blocks go from the
    // audio thread to the session's thread in capture order.
    NativeAudioCapture capture;
    QList<SpeakerTurn> liveTurns;
    QList<AnalysisProviderResult> insights;
    DeepgramLiveSessionOptions options;
    options.baseURL = speech->baseUrl();
    // The stand-in sends its last turns after the close message and then closes: the stop waits
    // for them as long as a loaded machine takes (a minute stands for a hang).
    options.closeGrace = std::chrono::seconds(60);
    DeepgramLiveSession live(
        prepared->liveGrant, int(test::awaitTask(NativeAudioCapture::inputSampleRate())),
        prepared->reservationID, client, client,
        [&](const SpeakerTurn& turn) {
            if (coordinator->acceptLiveTurn(turn))
                liveTurns.append(turn);
        },
        [] { return std::optional<LiveAnalysisContext>(); },
        [&](const AnalysisProviderResult& insight) { insights.append(insight); }, options);
    live.start();
    const auto started = test::awaitTask(capture.start(
        recording, prepared->maximumSeconds, [&live](const QByteArray& block) { live.postPCM(block); }));
    ASSERT_TRUE(started.has_value());
    QElapsedTimer clock;
    clock.start();
    for (qsizetype i = 0; i < scripted.files.size(); ++i) {
        test::spinUntil([&] { return clock.elapsed() >= qint64(scripted.startTimes[i] * 1000); }, 30000);
        play(scripted.files[i]);
    }
    test::spinUntil([&] { return clock.elapsed() >= recordingMilliseconds; }, 30000);

    const double actualSeconds = capture.currentTime();
    capture.stop();
    test::awaitTask(live.stop(qint64(std::ceil(actualSeconds))));
    EXPECT_EQ(live.statusCode(), DeepgramLiveSession::healthyStatus);
    ASSERT_EQ(liveTurns.size(), std::size(conversation));
    EXPECT_EQ(coordinator->turns(), liveTurns);
    EXPECT_FALSE(insights.isEmpty());

    const auto finished
        = test::awaitTask(coordinator->finish(prepared->audioURL, "audio/mp4", actualSeconds));
    ASSERT_TRUE(finished.has_value());
    const DerivedSessionResult& review = *finished;
    EXPECT_EQ(coordinator->phase(), SessionPhase::complete);

    // The transcript is the stand-in's, turn by turn and seat by seat; the duration is the file's.
    EXPECT_EQ(review.id, *draft->sessionID);
    ASSERT_TRUE(review.transcript.has_value());
    ASSERT_EQ(review.transcript->size(), std::size(conversation));
    for (qsizetype i = 0; i < review.transcript->size(); ++i) {
        EXPECT_EQ(review.transcript->at(i).speaker, conversation[i].speaker);
        EXPECT_EQ(review.transcript->at(i).text, QString::fromLatin1(conversation[i].text));
        EXPECT_NEAR(review.transcript->at(i).start, scripted.startTimes[i] + 0.1, 0.01);
    }
    EXPECT_NEAR(review.duration, actualSeconds, 0.2);
    EXPECT_EQ(review.stats, TurnGrouping::stats(TurnGrouping::group(*review.transcript)));
    // The findings are the control plane's analyzer's.
    const QSet<QString> expectedCodes { "0:criticism", "1:repair", "2:positive" };
    EXPECT_TRUE(findings(review.annotations, [](const BehaviorAnnotation& a) {
        return toString(a.code);
    }).contains(expectedCodes));
    ASSERT_TRUE(review.fouls.has_value());
    const QSet<QString> expectedFouls { "0:globalizing", "0:kitchen_sinking", "3:dredging_past" };
    EXPECT_EQ(findings(*review.fouls, [](const ProcessFoulAnnotation& a) { return toString(a.foul); }),
        expectedFouls);
    EXPECT_EQ(review.harshStartupDetected, true);
    EXPECT_FALSE(review.summary.isEmpty());

    // Sealed on disk: unreadable as it lies, the same review when opened again.
    QFile sealedFile((*results)->path(review.id));
    ASSERT_TRUE(sealedFile.open(QIODevice::ReadOnly));
    const QByteArray sealed = sealedFile.readAll();
    EXPECT_FALSE(sealed.isEmpty());
    EXPECT_FALSE(sealed.contains("dishes"));
    const auto reopened = EncryptedResultStore::create(resultsFolder, keys);
    ASSERT_TRUE(reopened.has_value());
    const auto loaded = test::awaitTask((*reopened)->load(review.id));
    ASSERT_TRUE(loaded.has_value());
    // The file keeps the completion time in whole seconds.
    DerivedSessionResult expected = review;
    expected.completedAt
        = QDateTime::fromSecsSinceEpoch(review.completedAt.toSecsSinceEpoch(), QTimeZone::utc());
    EXPECT_EQ(loaded->result, expected);

    // No audio is kept.
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(recording).path()));

    // The reservation is finalized with the recorded seconds rounded up.
    ASSERT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
    const auto database = ControlPlaneStore::open(u"sqlite:"_qs + controlPlane->databasePath());
    ASSERT_TRUE(database.has_value()) << database.error().toStdString();
    const auto reservation = ReservationStore(**database).reservation(prepared->reservationID);
    ASSERT_TRUE(reservation.has_value());
    EXPECT_EQ(reservation->status, "finalized");
    EXPECT_EQ(reservation->actualSeconds, qint64(std::ceil(actualSeconds)));
    // One usage report of the live stream and one of the final transcription.
    EXPECT_EQ((*database)->countRows("usage_reports", registration.accountID), 2);

    (void)test::awaitTask(keys->remove(EncryptedResultStore::keyAccount()));
}

} // namespace
} // namespace lumora
