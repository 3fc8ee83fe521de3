#include "SpokenConversationTest.hpp"
#include "ViewModelFixture.hpp"
#include "appcore/CheckinService.hpp"
#include "appcore/ConversationBackupService.hpp"
#include "appcore/PairingService.hpp"
#include "appcore/SessionCoordinator.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/ReservationStore.hpp"
#include "domain/PairingPolicy.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "persistence/RecordingAgreementStore.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "providers/DeepgramClient.hpp"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

namespace lumora {
namespace {

// Six lines, so that the live analysis runs while the conversation records; the first names
// the cycle the partners are stuck in, which the analysis takes for the agenda's second step.
const test::SpokenLine conversation[] = {
    { 0, "en-us", "We keep getting stuck in the same cycle." },
    { 1, "en-gb+f3", "I feel that too." },
    { 0, "en-us", "Thank you for saying that." },
    { 1, "en-gb+f3", "I want to understand you." },
    { 0, "en-us", "Can we slow down a little?" },
    { 1, "en-gb+f3", "Yes, let us try." },
};

constexpr double firstLineAt = 2.0; // seconds into the recording
constexpr double pauseBetweenLines = 0.6;

class ViewModelConversationTest : public test::SpokenConversationTest {
protected:
    ViewModelConversationTest()
        : SpokenConversationTest(conversation, firstLineAt, pauseBetweenLines)
    {
    }

    // A view model connected to the control plane with the services of the account and the
    // recording agreement accepted, on the real clock, microphone and timer.
    std::unique_ptr<SessionViewModel> connectedModel()
    {
        home.info[QStringLiteral("LMControlPlaneURL")] = controlPlane->baseUrl().toString();
        home.info[QStringLiteral("LMSpeechServiceURL")] = speech->baseUrl().toString();
        EXPECT_TRUE(
            RecordingAgreementStore(*home.preferences, RecordingAgreementStore::standardKey()).accept());
        SessionEnvironment environment = home.environment();
        environment.clock = &QDateTime::currentDateTimeUtc;
        auto model = std::make_unique<SessionViewModel>(std::move(environment));
        lumora::testing::settle(*model);

        const DeviceRegistration registration = signIn(identity);
        EXPECT_FALSE(registration.deviceID.isNull());
        const auto client = std::make_shared<ControlPlaneClient>(
            controlPlane->baseUrl(), registration.deviceID, identity, manager);
        model->adoptServices(
            { client, ConversationBackupService::create(client, model->resultStore(), model->backupStore()),
                PairingService::create(client, PairingPolicy::version.toString()),
                CheckinService::create(client) });
        auto temporary = TemporaryConversationStore::create(home.temporaryRoot);
        EXPECT_TRUE(temporary.has_value());
        model->adoptCoordinator(SessionCoordinator::create(client, client,
            std::make_shared<DeepgramClient>(manager, speech->baseUrl()), client, client,
            model->resultStore(), *temporary));
        EXPECT_TRUE(test::awaitTask(model->refreshAfterConversation()));
        EXPECT_EQ(model->startReadiness(), ConversationStartReadiness::ready);
        return model;
    }

    QStringList temporaryEntries() const
    {
        return QDir(home.temporaryRoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    DeviceIdentity identity { P256PrivateKey::generate().value() };
    lumora::testing::ViewModelHome home;
};

TEST_F(ViewModelConversationTest, TheStartButtonLeadsToASealedBackedUpListedReview)
{
    const auto connected = connectedModel();
    SessionViewModel& model = *connected;
    model.requestToggleRecording();
    ASSERT_TRUE(test::spinUntil([&] { return model.isRecording() || model.errorMessage(); }, 30000));
    ASSERT_TRUE(model.isRecording()) << model.statusText().toStdString();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(model.statusText(), "Recording visibly");
    EXPECT_TRUE(model.hasLiveSession());
    EXPECT_EQ(model.recordingMaximumSeconds(), 3600);

    for (qsizetype i = 0; i < scripted.files.size(); ++i) {
        test::spinUntil([&] { return clock.elapsed() >= qint64(scripted.startTimes[i] * 1000); }, 30000);
        play(scripted.files[i]);
    }
    EXPECT_TRUE(test::spinUntil(
        [&] { return model.liveTurns().size() == qsizetype(std::size(conversation)); }, 30000));
    EXPECT_TRUE(test::spinUntil([&] { return model.liveSummary().has_value(); }, 30000));
    EXPECT_EQ(model.selectedAgendaStep(), 1) << "the insight moves the agenda on by one step";

    // Coaching on demand for one corner (seat 2 is the left seat).
    test::awaitTask(model.requestContextualNudge(2));
    EXPECT_TRUE(model.contextualNudges().contains(0));
    EXPECT_FALSE(model.nudgeErrors().contains(0));
    EXPECT_TRUE(model.nudgeLoadingSides().isEmpty());

    // Two seconds of pause are left out of the recording's time.
    model.togglePause();
    EXPECT_TRUE(model.isPaused());
    test::spinFor(2000);
    model.togglePause();
    EXPECT_TRUE(model.isRecording());
    test::spinFor(2500);
    const double wall = double(clock.elapsed()) / 1000;
    EXPECT_GT(model.totalPaused(), 1.9);
    EXPECT_LE(model.elapsed(), wall - 1.9);
    EXPECT_GT(model.elapsed(), wall - 4);

    // A request still in flight when the conversation ends leaves no trace.
    model.requestContextualNudgeFor(1);
    EXPECT_EQ(model.nudgeLoadingSides(), QSet<int> { 1 });
    model.requestToggleRecording();
    lumora::testing::settle(model);
    EXPECT_TRUE(model.nudgeLoadingSides().isEmpty());
    EXPECT_TRUE(model.contextualNudges().isEmpty());
    EXPECT_TRUE(model.nudgeErrors().isEmpty());
    // The account refresh that ends the finish sets the room's resting line.
    EXPECT_EQ(model.statusText(), "Ready to record") << model.errorMessage().value_or("").toStdString();
    EXPECT_FALSE(model.errorMessage().has_value());
    EXPECT_FALSE(model.isRecording() || model.isPaused() || model.isProcessing());
    EXPECT_TRUE(model.liveTurns().isEmpty());

    // Sealed on this computer, from the final transcript.
    ASSERT_EQ(model.results().size(), 1);
    const DerivedSessionResult review = model.results().first();
    ASSERT_TRUE(review.transcript.has_value());
    QStringList texts;
    for (const SpeakerTurn& turn : *review.transcript)
        texts.append(turn.text);
    QStringList spoken;
    for (const test::SpokenLine& line : conversation)
        spoken.append(QString::fromLatin1(line.text));
    EXPECT_EQ(texts, spoken);
    const auto loaded = test::awaitTask(model.resultStore()->load(review.id));
    ASSERT_TRUE(loaded.has_value());
    QFile sealed(model.resultStore()->path(review.id));
    ASSERT_TRUE(sealed.open(QIODevice::ReadOnly));
    EXPECT_FALSE(sealed.readAll().contains("cycle"));

    // Backed up to the account and listed.
    ASSERT_EQ(model.historyEntries().size(), 1);
    EXPECT_EQ(model.historyEntries().first().localID, review.id);
    EXPECT_EQ(model.historyEntries().first().backup, ConversationBackupDisplayState::backedUp);

    // No audio anywhere in the temporary root.
    EXPECT_EQ(temporaryEntries(), QStringList());
}

// A recording that can no longer be written (here its folder is removed) ends the conversation
// at once: nothing is left recording in the room, the reservation is cancelled and no audio
// stays behind.
TEST_F(ViewModelConversationTest, ARecordingThatFailsFinishesTheConversationAtOnce)
{
    const auto model = connectedModel();
    model->requestToggleRecording();
    ASSERT_TRUE(test::spinUntil([&] { return model->isRecording() || model->errorMessage(); }, 30000));
    ASSERT_TRUE(model->isRecording()) << model->statusText().toStdString();
    const QUuid reservationID = model->liveReservationID().value_or(QUuid());
    play(scripted.files.first());
    test::spinFor(2500);

    ASSERT_TRUE(QDir(QFileInfo(model->audioURL()->toLocalFile()).path()).removeRecursively());
    ASSERT_TRUE(test::spinUntil([&] { return !model->isRecording() && !model->isProcessing(); }, 30000));
    lumora::testing::settle(*model);
    EXPECT_EQ(model->errorMessage(), "Processing failed. The temporary recording was deleted.");
    EXPECT_EQ(model->statusText(), "Processing failed. The temporary recording was deleted.");
    EXPECT_FALSE(model->isPaused());
    EXPECT_FALSE(model->isRecordingClockRunning());
    EXPECT_FALSE(model->liveReservationID().has_value());
    EXPECT_TRUE(model->results().isEmpty());
    EXPECT_EQ(temporaryEntries(), QStringList());

    ASSERT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
    const auto database = ControlPlaneStore::open(QStringLiteral("sqlite:") + controlPlane->databasePath());
    ASSERT_TRUE(database.has_value());
    const auto reservation = ReservationStore(**database).reservation(reservationID);
    ASSERT_TRUE(reservation.has_value());
    EXPECT_EQ(reservation->status, "cancelled");
    controlPlane.reset();
}

// A finish without a coordinator (the account was dropped meanwhile) still removes the recording
// before it says so.
TEST_F(ViewModelConversationTest, AFinishWithoutTheCoordinatorDeletesTheRecording)
{
    const auto model = connectedModel();
    model->requestToggleRecording();
    ASSERT_TRUE(test::spinUntil([&] { return model->isRecording() || model->errorMessage(); }, 30000));
    ASSERT_TRUE(model->isRecording()) << model->statusText().toStdString();
    test::spinFor(1500);
    ASSERT_EQ(temporaryEntries().size(), 1);

    model->adoptCoordinator(nullptr);
    model->requestToggleRecording();
    lumora::testing::settle(*model);
    EXPECT_EQ(model->statusText(), "Processing failed. The temporary recording was deleted.");
    EXPECT_FALSE(model->isRecording() || model->isPaused() || model->isProcessing());
    EXPECT_EQ(temporaryEntries(), QStringList());
}

// Signing out while paused gives the conversation up first: nothing records, no audio stays, the
// reservation is cancelled.
TEST_F(ViewModelConversationTest, SigningOutDuringAConversationLeavesNoAudioAndNoReservation)
{
    const auto model = connectedModel();
    model->requestToggleRecording();
    ASSERT_TRUE(test::spinUntil([&] { return model->isRecording() || model->errorMessage(); }, 30000));
    ASSERT_TRUE(model->isRecording()) << model->statusText().toStdString();
    const QUuid reservationID = model->liveReservationID().value_or(QUuid());
    test::spinFor(1500);
    model->togglePause();
    ASSERT_TRUE(model->isPaused());

    model->requestSignOut();
    lumora::testing::settle(*model);
    EXPECT_FALSE(model->isSignedIn());
    EXPECT_FALSE(model->isRecording() || model->isPaused() || model->isProcessing());
    EXPECT_FALSE(model->isRecordingClockRunning());
    EXPECT_FALSE(model->hasLiveSession());
    EXPECT_FALSE(model->audioURL().has_value());
    EXPECT_FALSE(model->liveReservationID().has_value());
    EXPECT_EQ(temporaryEntries(), QStringList());

    ASSERT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
    const auto database = ControlPlaneStore::open(QStringLiteral("sqlite:") + controlPlane->databasePath());
    ASSERT_TRUE(database.has_value());
    const auto reservation = ReservationStore(**database).reservation(reservationID);
    ASSERT_TRUE(reservation.has_value());
    EXPECT_EQ(reservation->status, "cancelled");
    controlPlane.reset();
}

} // namespace
} // namespace lumora
