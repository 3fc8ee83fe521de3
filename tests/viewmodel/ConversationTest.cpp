#include "RealControlPlaneFixture.hpp"
#include "ViewModelFixture.hpp"
#include "appcore/SessionCoordinator.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/ReservationStore.hpp"
#include "persistence/EncryptedResultStore.hpp"
#include "persistence/RecordingAgreementStore.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "providers/DeepgramClient.hpp"
#include "viewmodel/RecordingTimer.hpp"

#include <QDir>
#include <QTimer>
#include <qcoro/qcorotimer.h>

namespace lumora {
namespace {

using testing::LogCapture;
using testing::settle;

// The recording clock of a test: it ticks when the test says so, and forgets its tick when
// the view model drops it.
class ManualTimer final : public RecordingTimer {
public:
    explicit ManualTimer(std::shared_ptr<std::function<void()>> tick)
        : m_tick(std::move(tick))
    {
    }
    ~ManualTimer() override { *m_tick = nullptr; }
    void start(std::function<void()> tick) override { *m_tick = std::move(tick); }

private:
    std::shared_ptr<std::function<void()>> m_tick;
};

// The real client's reservations and credentials, noting each reservation made and cancelled;
// a credential request may be answered with a refusal instead.
class ObservedEngine final : public SessionAuthorizationProvider, public ProviderTokenSource {
public:
    explicit ObservedEngine(std::shared_ptr<ControlPlaneClient> real)
        : m_real(std::move(real))
    {
    }

    std::optional<ControlPlaneError> grantRefusal;
    mutable QList<QUuid> reserved;
    mutable QList<QUuid> cancelled;

    QCoro::Task<std::expected<UsageReservation, ProviderFailure>> reserve(
        QUuid sessionID, double requestedSeconds) const override
    {
        auto reservation = co_await m_real->reserve(sessionID, requestedSeconds);
        if (reservation)
            reserved.append(reservation->id);
        co_return reservation;
    }
    QCoro::Task<std::expected<void, ProviderFailure>> finalize(
        QUuid reservationID, qint64 actualSeconds) const override
    {
        return m_real->finalize(reservationID, actualSeconds);
    }
    QCoro::Task<bool> cancel(QUuid reservationID) const override
    {
        cancelled.append(reservationID);
        co_return co_await m_real->cancel(reservationID);
    }
    QCoro::Task<std::expected<DeepgramGrant, ProviderFailure>> deepgramGrant(
        QUuid reservationID) const override
    {
        if (grantRefusal)
            co_return std::unexpected(ProviderFailure(ControlPlaneFailure(*grantRefusal)));
        co_return co_await m_real->deepgramGrant(reservationID);
    }

private:
    std::shared_ptr<ControlPlaneClient> m_real;
};

// A view model signed in to the real control plane on loopback, with the recording agreement
// accepted, a coordinator over the real client and a clock, microphone answer and timer of
// the test's own.
class ConversationTest : public testing::RealControlPlaneFixture {
protected:
    void SetUp() override
    {
        RealControlPlaneFixture::SetUp();
        if (HasFatalFailure())
            return;
        home.info[QStringLiteral("LMControlPlaneURL")] = base.toString();
        ASSERT_TRUE(
            RecordingAgreementStore(*home.preferences, RecordingAgreementStore::standardKey()).accept());
        registration = signIn(identity, QStringLiteral("Ada"));
        client = std::make_shared<ControlPlaneClient>(base, registration.deviceID, identity, manager);
        engine = std::make_shared<ObservedEngine>(client);
    }

    std::unique_ptr<SessionViewModel> launch(const QStringList& arguments = {})
    {
        SessionEnvironment environment = home.environment(arguments);
        environment.microphonePermission
            = [this]() -> QCoro::Task<std::expected<void, NativeAudioCaptureError>> {
            microphoneAsked = true;
            if (holdMicrophone)
                co_await microphoneAnswer;
            if (microphoneRefusal)
                co_return std::unexpected(*microphoneRefusal);
            co_return {};
        };
        environment.recordingTimer = [this] { return std::make_unique<ManualTimer>(tick); };
        auto model = std::make_unique<SessionViewModel>(std::move(environment));
        settle(*model);
        model->adoptServices({ client, nullptr, nullptr, nullptr });
        EXPECT_TRUE(test::awaitTask(model->refreshAfterConversation()));
        EXPECT_TRUE(model->isSignedIn());
        auto temporary = TemporaryConversationStore::create(home.temporaryRoot);
        EXPECT_TRUE(temporary.has_value());
        model->adoptCoordinator(
            SessionCoordinator::create(engine, engine, std::make_shared<DeepgramClient>(manager), client,
                client, model->resultStore(), *temporary, *model->marks()));
        return model;
    }

    QStringList temporaryEntries() const
    {
        return QDir(home.temporaryRoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    // One tick of the recording clock at `now`, run to its end.
    void tickAt(SessionViewModel& model, qint64 secondsAfterStart)
    {
        home.now = startedAt.addSecs(secondsAfterStart);
        ASSERT_TRUE(*tick) << "the clock is not running";
        (*tick)();
        settle(model);
    }

    testing::ViewModelHome home;
    DeviceRegistration registration;
    std::shared_ptr<ControlPlaneClient> client;
    std::shared_ptr<ObservedEngine> engine;
    // Why the microphone does not record; nothing: it does.
    std::optional<NativeAudioCaptureError> microphoneRefusal;
    // A held microphone answers when `microphoneAnswer` times out: the test starts it anew
    // with no interval.
    bool holdMicrophone = false;
    bool microphoneAsked = false;
    QTimer microphoneAnswer;
    std::shared_ptr<std::function<void()>> tick = std::make_shared<std::function<void()>>();
    QDateTime startedAt = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
};

// Every way a start can fail: the sentence in both fields, the code in the log, and nothing
// left behind (no reservation open, no recording, no live stream, no clock).
TEST_F(ConversationTest, FailedStartsTellTheUserAndLeaveNothingBehind)
{
    const QString signInAgain
        = QStringLiteral("This computer needs to sign in again before starting a conversation.");
    const QString liveUnavailable
        = QStringLiteral("Live guidance is temporarily unavailable. Please try again.");
    const QString generic
        = QStringLiteral("The conversation could not start. Check your connection and try again.");
    struct Row {
        const char* name;
        std::function<void(SessionViewModel&)> arrange;
        QString text;
        QString logged; // empty: the start fails before it asks anyone
        bool reserves;
    };
    const QList<Row> rows {
        { "device no longer known",
            [this](SessionViewModel& model) {
                model.adoptServices({ std::make_shared<ControlPlaneClient>(
                                          base, QUuid::createUuid(), testing::newIdentity(), manager),
                    nullptr, nullptr, nullptr });
            },
            signInAgain, QStringLiteral("control_plane_rejected_401_unknown_device"), false },
        { "credential refused with 401",
            [this](SessionViewModel&) {
                engine->grantRefusal
                    = ControlPlaneError::rejectedWithCode(401, QStringLiteral("provider_token_unavailable"));
            },
            signInAgain, QStringLiteral("control_plane_rejected_401_provider_token_unavailable"), true },
        { "credential unavailable",
            [this](SessionViewModel&) {
                engine->grantRefusal
                    = ControlPlaneError::rejectedWithCode(503, QStringLiteral("provider_token_unavailable"));
            },
            liveUnavailable, QStringLiteral("control_plane_rejected_503_provider_token_unavailable"), true },
        { "speech not configured on the server", [](SessionViewModel&) {}, generic,
            QStringLiteral("control_plane_rejected_503_speech_not_configured"), true },
        { "microphone refused",
            [this](SessionViewModel&) { microphoneRefusal = NativeAudioCaptureError::microphoneDidNotStart; },
            QStringLiteral("Microphone access is required."), QString(), false },
        { "no microphone",
            [this](SessionViewModel&) { microphoneRefusal = NativeAudioCaptureError::noMicrophone; },
            QStringLiteral("No microphone was found. Connect a microphone or turn one on in the sound "
                           "settings, then try again."),
            QString(), false },
        { "no client", [](SessionViewModel& model) { model.adoptServices({}); },
            QStringLiteral("The secure session is not ready."), QString(), false },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        microphoneRefusal.reset();
        engine->grantRefusal.reset();
        const qsizetype reservedBefore = engine->reserved.size();
        auto model = launch();
        row.arrange(*model);
        LogCapture log;

        test::awaitTask(model->toggleRecording());
        settle(*model);

        EXPECT_EQ(model->errorMessage(), row.text);
        EXPECT_EQ(model->statusText(), row.text);
        const QStringList expectedLog = row.logged.isEmpty()
            ? QStringList()
            : QStringList { QStringLiteral("com.lumora.native.conversation: Conversation start failed: ")
                  + row.logged };
        QStringList logged;
        for (const QString& line : std::as_const(LogCapture::lines()))
            if (line.startsWith(QStringLiteral("com.lumora.native.conversation:")))
                logged.append(line);
        EXPECT_EQ(logged.join(u'\n').toStdString(), expectedLog.join(u'\n').toStdString());
        EXPECT_FALSE(model->isStartingConversation());
        EXPECT_FALSE(model->isRecording());
        EXPECT_FALSE(model->liveReservationID().has_value());
        EXPECT_FALSE(model->hasLiveSession());
        EXPECT_FALSE(model->isRecordingClockRunning());
        EXPECT_EQ(temporaryEntries(), QStringList()) << "a recording was left on disk";
        EXPECT_EQ(engine->reserved.size() - reservedBefore, row.reserves ? 1 : 0);
        // A second press starts again: nothing of the failed start holds the room.
        EXPECT_EQ(model->startReadiness(), ConversationStartReadiness::ready);
    }
    // Every reservation made was cancelled on the server.
    const QString databasePath = server->databasePath();
    ASSERT_EQ(server->stop(), 0) << server->log().toStdString();
    const auto database = ControlPlaneStore::open(QStringLiteral("sqlite:") + databasePath);
    ASSERT_TRUE(database.has_value());
    ASSERT_EQ(engine->reserved.size(), 3);
    EXPECT_EQ(engine->cancelled, engine->reserved);
    for (const QUuid& id : std::as_const(engine->reserved)) {
        const auto reservation = ReservationStore(**database).reservation(id);
        ASSERT_TRUE(reservation.has_value());
        EXPECT_EQ(reservation->status, "cancelled");
    }
    server.reset();
}

// The code in the log and the sentence for the user, for each kind of failure.
TEST(ConversationStartFailure, CodesAndSentences)
{
    const QString signInAgain
        = QStringLiteral("This computer needs to sign in again before starting a conversation.");
    const QString liveUnavailable
        = QStringLiteral("Live guidance is temporarily unavailable. Please try again.");
    const QString generic
        = QStringLiteral("The conversation could not start. Check your connection and try again.");
    const auto providerRefusal = [](ControlPlaneError error) {
        return ConversationStartFailure(
            SessionCoordinatorFailure(ProviderFailure(ControlPlaneFailure(std::move(error)))));
    };
    const struct {
        ConversationStartFailure failure;
        QString code;
        QString text;
    } rows[] = {
        { ControlPlaneFailure(ControlPlaneError::rejected(401)), "control_plane_rejected_401", signInAgain },
        { providerRefusal(ControlPlaneError::rejectedWithCode(401, "provider_token_unavailable")),
            "control_plane_rejected_401_provider_token_unavailable", signInAgain },
        { providerRefusal(ControlPlaneError::rejectedWithCode(503, "provider_token_unavailable")),
            "control_plane_rejected_503_provider_token_unavailable", liveUnavailable },
        { providerRefusal(ControlPlaneError::rejected(503)), "control_plane_rejected_503", generic },
        { ControlPlaneFailure(ControlPlaneError::invalidResponse()), "control_plane_invalid_response",
            generic },
        { ControlPlaneFailure(TransportError { 1, "refused" }), "url_error_1", generic },
        { ControlPlaneFailure(JsonDecodeError { "missing" }), "control_plane_decode_error", generic },
        { SessionCoordinatorFailure(SessionCoordinatorError::durationCap), "coordinator_durationCap",
            generic },
        { SessionCoordinatorFailure(SessionCoordinatorError::invalidState), "coordinator_invalidState",
            generic },
        { NativeAudioCaptureError::noMicrophone, "NativeAudioCaptureError_3", generic },
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SessionViewModel::startFailureDiagnostic(row.failure), row.code);
        EXPECT_EQ(SessionViewModel::conversationStartFailureMessage(row.failure), row.text)
            << row.code.toStdString();
    }
}

// The clock counts recorded time only, stops at the maximum and finishes the conversation on
// the tick that reaches it; the smoke mode's recording folder goes with it.
TEST_F(ConversationTest, ClockLeavesPausesOutAndFinishesAtTheMaximum)
{
    home.now = startedAt;
    auto model = launch({ QStringLiteral("--ui-smoke") });
    test::awaitTask(model->toggleRecording());
    ASSERT_TRUE(model->isRecording()) << model->statusText().toStdString();
    EXPECT_EQ(model->statusText(), "Recording visibly");
    EXPECT_EQ(model->recordingMaximumSeconds(), 3600);
    ASSERT_EQ(temporaryEntries().size(), 1);

    tickAt(*model, 1);
    EXPECT_EQ(model->elapsed(), 1);
    home.now = startedAt.addSecs(2);
    model->togglePause();
    EXPECT_EQ(model->statusText(), "Paused");
    tickAt(*model, 4);
    EXPECT_EQ(model->elapsed(), 2) << "time stands still during a pause";
    home.now = startedAt.addSecs(5);
    model->togglePause();
    EXPECT_EQ(model->totalPaused(), 3);
    home.now = startedAt.addSecs(8);
    model->togglePause();
    tickAt(*model, 10);
    EXPECT_EQ(model->elapsed(), 5);
    home.now = startedAt.addSecs(11);
    model->togglePause();
    EXPECT_EQ(model->totalPaused(), 6);

    tickAt(*model, 3605);
    EXPECT_EQ(model->elapsed(), 3599);
    EXPECT_TRUE(model->isRecording());
    tickAt(*model, 3700);
    EXPECT_EQ(model->elapsed(), 3600) << "never past the maximum";
    EXPECT_FALSE(model->isRecording());
    EXPECT_FALSE(model->isProcessing());
    EXPECT_FALSE(model->isRecordingClockRunning());
    EXPECT_EQ(model->statusText(), "Conversation ready to review");
    ASSERT_FALSE(model->results().isEmpty());
    EXPECT_EQ(model->results().first().duration, 3600);
    EXPECT_EQ(temporaryEntries(), QStringList());
}

// A tick that arrives while the finish is under way leaves the recorded length alone. The
// finish says once that it is over (the application then returns freed memory), and only
// after its review is published and the processing has ended.
TEST_F(ConversationTest, TheClockStandsStillOnceTheFinishBegins)
{
    home.now = startedAt;
    auto model = launch({ QStringLiteral("--ui-smoke") });
    int finished = 0;
    QObject::connect(model.get(), &SessionViewModel::conversationFinished, [&] {
        ++finished;
        EXPECT_FALSE(model->isProcessing());
        EXPECT_FALSE(model->results().isEmpty());
    });
    test::awaitTask(model->toggleRecording());
    tickAt(*model, 5);
    const auto lateTick = *tick;
    home.now = startedAt.addSecs(9);
    model->requestToggleRecording();
    lateTick();
    EXPECT_EQ(finished, 0);
    settle(*model);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(model->elapsed(), 5);
    ASSERT_FALSE(model->results().isEmpty());
    EXPECT_EQ(model->results().first().duration, 5);
}

// "Leave check-in" while the check-in's recording is starting: the check-in stays open, so the
// recording is never saved as a conversation.
TEST_F(ConversationTest, ACheckinCannotBeLeftWhileItsRecordingStarts)
{
    holdMicrophone = true;
    microphoneAnswer.setSingleShot(true);
    microphoneAnswer.start(std::chrono::hours(1));
    auto model = launch();
    model->requestCheckin();
    settle(*model);
    ASSERT_TRUE(model->isCheckinOpen());
    model->requestToggleRecording();
    ASSERT_TRUE(test::spinUntil([&] { return microphoneAsked; }, 60000));
    ASSERT_TRUE(model->isStartingConversation());
    model->closeCheckin();
    EXPECT_TRUE(model->isCheckinOpen());

    microphoneAnswer.start(0);
    ASSERT_TRUE(test::spinUntil([&] { return !model->isStartingConversation(); }, 60000));
    settle(*model);
    EXPECT_TRUE(model->isCheckinOpen());
    model->closeCheckin();
    EXPECT_FALSE(model->isCheckinOpen()) << "once the start is over, the check-in can be left";
}

} // namespace
} // namespace lumora
