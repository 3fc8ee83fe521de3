#include "ConnectedConversationTest.hpp"
#include "ProviderStandIn.hpp"
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
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <atomic>
#include <sys/mount.h>

namespace lumora {
namespace {

using lumora::testing::StandInReply;
using lumora::testing::StandInRequest;

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

// Starts a conversation and waits until it records.
void startRecording(SessionViewModel& model)
{
    model.requestToggleRecording();
    ASSERT_TRUE(test::spinUntil([&] { return model.isRecording() || model.errorMessage(); }, 60000));
    ASSERT_TRUE(model.isRecording()) << model.statusText().toStdString();
}

// The sizes of the audio frames the stand-in received on its last connection before the close
// message, from its frame log ("<connection> binary <bytes> <first> <last>").
QList<int> audioBeforeClose(const QStringList& frames)
{
    QList<int> sizes;
    for (const QString& line : frames) {
        const QStringList fields = line.split(u' ');
        if (fields.size() < 3)
            continue;
        if (fields[1] == u"binary")
            sizes.append(fields[2].toInt());
        else if (line.contains(u"CloseStream"))
            return sizes;
        else if (fields[1] == u"close" || fields[1] == u"closing")
            sizes.clear();
    }
    return {};
}

class ViewModelConversationTest : public test::ConnectedConversationTest {
protected:
    ViewModelConversationTest()
        : ConnectedConversationTest(conversation, firstLineAt, pauseBetweenLines)
    {
    }
};

TEST_F(ViewModelConversationTest, TheStartButtonLeadsToASealedBackedUpListedReview)
{
    const auto connected = connectedModel();
    SessionViewModel& model = *connected;
    // The wall clock at the recording's start and at each turn of its clock, read as they come:
    // a loaded machine delays both, never the difference.
    QDateTime recordingSince;
    QDateTime lastTick;
    QObject::connect(&model, &SessionViewModel::isRecordingChanged, [&] {
        if (model.isRecording() && !recordingSince.isValid())
            recordingSince = QDateTime::currentDateTimeUtc();
    });
    QObject::connect(
        &model, &SessionViewModel::elapsedChanged, [&] { lastTick = QDateTime::currentDateTimeUtc(); });
    model.requestToggleRecording();
    ASSERT_TRUE(test::spinUntil([&] { return model.isRecording() || model.errorMessage(); }, 60000));
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
        [&] { return model.liveTurns().size() == qsizetype(std::size(conversation)); }, 60000));
    EXPECT_TRUE(test::spinUntil([&] { return model.liveSummary().has_value(); }, 60000));
    EXPECT_EQ(model.selectedAgendaStep(), 1) << "the insight moves the agenda on by one step";

    // Coaching on demand for one corner (seat 2 is the left seat).
    test::awaitTask(model.requestContextualNudge(2));
    EXPECT_TRUE(model.contextualNudges().contains(0));
    EXPECT_FALSE(model.nudgeErrors().contains(0));
    EXPECT_TRUE(model.nudgeLoadingSides().isEmpty());

    // Two seconds of pause are left out of the recording's time. The pause is the person's, and
    // as long as one would be; then the recording's own clock runs on.
    model.togglePause();
    EXPECT_TRUE(model.isPaused());
    test::spinFor(2000);
    model.togglePause();
    EXPECT_TRUE(model.isRecording());
    const double resumedAt = model.elapsed();
    ASSERT_TRUE(test::spinUntil([&] { return model.elapsed() >= resumedAt + 2.5; }, 60000));
    const double wall = double(recordingSince.msecsTo(lastTick)) / 1000;
    EXPECT_GT(model.totalPaused(), 1.9);
    EXPECT_NEAR(model.elapsed(), wall - model.totalPaused(), 0.5);

    // A request still in flight when the conversation ends leaves no trace.
    model.requestContextualNudgeFor(1);
    EXPECT_EQ(model.nudgeLoadingSides(), QSet<int> { 1 });
    model.requestToggleRecording();
    lumora::testing::settle(model);
    EXPECT_TRUE(model.nudgeLoadingSides().isEmpty());
    EXPECT_TRUE(model.contextualNudges().isEmpty());
    EXPECT_TRUE(model.nudgeErrors().isEmpty());
    // The finish's outcome stays the status line after the account refresh that ends it.
    EXPECT_EQ(model.statusText(), "Conversation ready to review")
        << model.errorMessage().value_or("").toStdString();
    EXPECT_FALSE(model.errorMessage().has_value());
    EXPECT_FALSE(model.isRecording() || model.isPaused() || model.isProcessing());
    EXPECT_TRUE(model.liveTurns().isEmpty());

    // Sealed on this computer, from the final transcript, in place of the one sealed at the press.
    ASSERT_EQ(model.results().size(), 1);
    const DerivedSessionResult review = model.results().first();
    ASSERT_TRUE(review.transcript.has_value());
    EXPECT_FALSE(review.fromLiveTranscript);
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

    // Every captured block reached the stream before its close message, down to the capture's
    // last, partial one.
    const QList<int> sent = audioBeforeClose(speech->frames());
    ASSERT_GT(sent.size(), 10);
    EXPECT_LT(sent.last(), 8192);
    EXPECT_EQ(sent.count(8192), sent.size() - 1);
}

// A recording that can no longer be written (here its folder is removed) ends the conversation
// at once: nothing is left recording in the room and no audio stays behind. With no file to
// transcribe, the turns heard live make the review.
TEST_F(ViewModelConversationTest, ARecordingThatFailsFinishesTheConversationAtOnce)
{
    const auto model = connectedModel();
    ASSERT_NO_FATAL_FAILURE(startRecording(*model));
    const QUuid reservationID = model->liveReservationID().value_or(QUuid());
    play(scripted.files.first());
    ASSERT_TRUE(test::spinUntil([&] { return !model->liveTurns().isEmpty(); }, 60000));
    ASSERT_TRUE(QDir(QFileInfo(model->audioURL()->toLocalFile()).path()).removeRecursively());
    ASSERT_TRUE(test::spinUntil([&] { return !model->isRecording(); }, 60000));
    lumora::testing::settle(*model);
    EXPECT_FALSE(model->isProcessing());
    EXPECT_EQ(model->errorMessage(), std::nullopt);
    EXPECT_EQ(model->statusText(),
        "Conversation ready to review. The final transcript could not be made, so the review uses the live "
        "transcript.");
    EXPECT_FALSE(model->isPaused());
    EXPECT_FALSE(model->isRecordingClockRunning());
    EXPECT_FALSE(model->liveReservationID().has_value());
    ASSERT_EQ(model->results().size(), 1);
    EXPECT_FALSE(model->results().first().transcript.value_or(QList<SpeakerTurn> {}).isEmpty());
    EXPECT_EQ(temporaryEntries(), QStringList());

    ASSERT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
    const auto database = ControlPlaneStore::open(QStringLiteral("sqlite:") + controlPlane->databasePath());
    ASSERT_TRUE(database.has_value());
    const auto reservation = ReservationStore(**database).reservation(reservationID);
    ASSERT_TRUE(reservation.has_value());
    EXPECT_EQ(reservation->status, "finalized");
    controlPlane.reset();
}

// A finish without a coordinator (the account was dropped meanwhile) still removes the recording
// before it says so.
TEST_F(ViewModelConversationTest, AFinishWithoutTheCoordinatorDeletesTheRecording)
{
    const auto model = connectedModel();
    ASSERT_NO_FATAL_FAILURE(startRecording(*model));
    ASSERT_TRUE(test::spinUntil([&] { return model->elapsed() >= 1.5; }, 60000));
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
    ASSERT_NO_FATAL_FAILURE(startRecording(*model));
    const QUuid reservationID = model->liveReservationID().value_or(QUuid());
    // The live transcript has a turn on screen.
    ASSERT_TRUE(test::spinUntil([&] { return !model->liveTurns().isEmpty(); }, 60000));
    model->togglePause();
    ASSERT_TRUE(model->isPaused());

    model->requestSignOut();
    lumora::testing::settle(*model);
    EXPECT_FALSE(model->isSignedIn());
    EXPECT_TRUE(model->liveTurns().isEmpty()) << "nothing of the conversation stays on screen";
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

// The control plane's reservations, each granting more than the hour that a recording holds.
class GenerousReservations final : public SessionAuthorizationProvider {
public:
    explicit GenerousReservations(std::shared_ptr<ControlPlaneClient> real)
        : m_real(std::move(real))
    {
    }

    QCoro::Task<std::expected<UsageReservation, ProviderFailure>> reserve(
        QUuid sessionID, double requestedSeconds) const override
    {
        auto reservation = co_await m_real->reserve(sessionID, requestedSeconds);
        if (reservation)
            reservation->maximumSeconds = 5400;
        co_return reservation;
    }
    QCoro::Task<std::expected<void, ProviderFailure>> finalize(
        QUuid reservationID, qint64 actualSeconds) const override
    {
        return m_real->finalize(reservationID, actualSeconds);
    }
    QCoro::Task<bool> cancel(QUuid reservationID) const override { return m_real->cancel(reservationID); }

private:
    std::shared_ptr<ControlPlaneClient> m_real;
};

// Collects the warnings of the conversation's log while it lives.
class ConversationWarnings {
public:
    ConversationWarnings()
    {
        lines().clear();
        m_previous = qInstallMessageHandler(&record);
    }
    ~ConversationWarnings() { qInstallMessageHandler(m_previous); }
    ConversationWarnings(const ConversationWarnings&) = delete;
    ConversationWarnings& operator=(const ConversationWarnings&) = delete;

    static QStringList& lines()
    {
        static QStringList captured;
        return captured;
    }

private:
    static void record(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (type == QtWarningMsg && QByteArrayView(context.category) == "com.lumora.native.conversation")
            lines().append(message);
    }
    QtMessageHandler m_previous = nullptr;
};

// Short conversations that the stand-in hears without a sound: four short turns in 2.4 s.
class QuietConversationTest : public ViewModelConversationTest {
protected:
    test::ScriptedConversation script() override
    {
        return test::quietScript(folder(), 4, 0.3, 0.6, QStringLiteral("We can talk now"));
    }
};

// Once the review is sealed, what comes after it (re-reading the account, a grant longer than
// a recording can hold) never turns the finish into a failure: the review stays ready, backed
// up once, its reservation finalized and not cancelled.
TEST_F(QuietConversationTest, WhatFollowsASavedReviewNeverUndoesIt)
{
    const Reservations generous = [](std::shared_ptr<ControlPlaneClient> client) {
        return std::make_shared<GenerousReservations>(std::move(client));
    };
    const struct {
        const char* name;
        bool checkin;
        bool accountUnreadable;
        bool grantsMoreThanAnHour;
        QString status;
    } rows[] = {
        { "account unreadable after a conversation", false, true, false, "Conversation ready to review" },
        { "account unreadable after a check-in", true, true, false, "Check-in saved" },
        { "grant above an hour, finished by the clock", false, false, true, "Conversation ready to review" },
    };
    struct Reservation {
        QUuid id;
        std::optional<qint64> actualSeconds;
    };
    QList<Reservation> reservations;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        *clockSkipped = 0;
        const auto model = connectedModel(row.grantsMoreThanAnHour ? generous : Reservations());
        if (row.checkin) {
            test::awaitTask(model->openCheckin());
            ASSERT_TRUE(model->isCheckinOpen());
        }
        model->requestToggleRecording();
        ASSERT_TRUE(test::spinUntil([&] { return model->isRecording() || model->errorMessage(); }, 60000));
        ASSERT_TRUE(model->isRecording()) << model->statusText().toStdString();
        EXPECT_EQ(model->recordingMaximumSeconds(), 3600);
        const QUuid reservationID = model->liveReservationID().value_or(QUuid());
        ASSERT_TRUE(test::spinUntil([&] { return model->liveTurns().size() >= 2; }, 60000));
        if (row.accountUnreadable)
            model->adoptServices({ std::make_shared<ControlPlaneClient>(
                                       QUrl("https://127.0.0.1:1"), registration.deviceID, identity, manager),
                model->backupService(), model->pairingService(), model->checkinService() });
        ConversationWarnings warnings;

        if (row.grantsMoreThanAnHour) {
            // The next tick of the clock finds the hour over.
            *clockSkipped = 3700;
            ASSERT_TRUE(test::spinUntil([&] { return model->isProcessing(); }, 60000));
            EXPECT_EQ(model->elapsed(), 3600);
        } else {
            model->requestToggleRecording();
        }
        lumora::testing::settle(*model);

        EXPECT_FALSE(model->errorMessage().has_value()) << model->errorMessage()->toStdString();
        EXPECT_EQ(model->statusText(), row.status);
        EXPECT_EQ(model->sessionMode(), ConversationMode::conversation);
        EXPECT_EQ(model->isCheckinFinished(), row.checkin);
        EXPECT_FALSE(model->isRecording() || model->isPaused() || model->isProcessing());
        ASSERT_FALSE(model->results().isEmpty());
        const QUuid reviewID = model->results().first().id;
        const auto backedUp = std::count_if(model->historyEntries().cbegin(), model->historyEntries().cend(),
            [&](const ConversationHistoryEntry& entry) {
                return entry.localID == reviewID && entry.backup == ConversationBackupDisplayState::backedUp;
            });
        EXPECT_EQ(backedUp, 1);
        EXPECT_EQ(warnings.lines(),
            row.accountUnreadable
                ? QStringList { QStringLiteral("The account could not be refreshed after the conversation.") }
                : QStringList());
        EXPECT_EQ(temporaryEntries(), QStringList());
        reservations.append({ reservationID,
            row.grantsMoreThanAnHour ? std::optional<qint64>(3600) : std::optional<qint64>() });
    }

    ASSERT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
    const auto database = ControlPlaneStore::open(QStringLiteral("sqlite:") + controlPlane->databasePath());
    ASSERT_TRUE(database.has_value());
    for (const Reservation& expected : std::as_const(reservations)) {
        const auto reservation = ReservationStore(**database).reservation(expected.id);
        ASSERT_TRUE(reservation.has_value());
        EXPECT_EQ(reservation->status, "finalized");
        if (expected.actualSeconds) {
            EXPECT_EQ(reservation->actualSeconds, expected.actualSeconds);
        }
    }
    controlPlane.reset();
}

// A review that cannot be written at the press of Finish (its data folder full, where the
// superuser can mount a small one; a folder in its file's place, anywhere): the room never says
// "Saved", tells why, and keeps the conversation paused with its recording, its live turns and its
// reservation. It can go on, and a later Finish saves it as usual.
TEST_F(QuietConversationTest, AReviewThatCannotBeWrittenKeepsTheConversationForAnotherFinish)
{
    ASSERT_TRUE(QDir().mkpath(home.applicationSupport));
    const QByteArray data = QFile::encodeName(home.applicationSupport);
    const bool smallDisk = ::mount("tmpfs", data.constData(), "tmpfs", 0, "size=4m,mode=0700") == 0;
    const auto unmount = qScopeGuard([&] {
        if (smallDisk)
            ::umount2(data.constData(), MNT_DETACH);
    });
    const auto model = connectedModel();
    ASSERT_NO_FATAL_FAILURE(startRecording(*model));
    const QUuid reservationID = model->liveReservationID().value_or(QUuid());
    ASSERT_TRUE(test::spinUntil([&] { return model->liveTurns().size() >= 2; }, 60000));
    bool processed = false;
    QObject::connect(model.get(), &SessionViewModel::isProcessingChanged, [&] { processed = true; });

    const QString filler = home.applicationSupport + u"/filler"_qs;
    const QString review = model->resultStore()->path(model->currentSession()->sessionID.value_or(QUuid()));
    struct Block {
        const char* name;
        std::function<void()> block;
        std::function<void()> unblock;
        QString says;
    };
    QList<Block> blocks { { "a folder in the review's place", [&] { ASSERT_TRUE(QDir().mkdir(review)); },
        [&] { ASSERT_TRUE(QDir().rmdir(review)); },
        u"This conversation could not be saved on this computer. It is kept here, paused: press Finish "
        "to try again."_qs } };
    if (smallDisk)
        blocks.prepend({ "a full disk",
            [&] {
                QFile file(filler);
                ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                const QByteArray block(4096, 'x');
                while (file.write(block) == block.size() && file.flush()) { }
            },
            [&] { ASSERT_TRUE(QFile::remove(filler)); },
            u"This conversation could not be saved because the disk is full. It is kept here, paused: free "
            "some space, then press Finish again."_qs });
    for (const Block& row : blocks) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(row.block());
        const qsizetype heard = model->liveTurns().size();
        model->requestToggleRecording();
        lumora::testing::settle(*model);
        EXPECT_FALSE(processed) << "the room said the conversation was saved";
        EXPECT_TRUE(model->isPaused());
        EXPECT_FALSE(model->isRecording());
        EXPECT_EQ(model->errorMessage(), row.says);
        EXPECT_EQ(model->liveTurns().size(), heard);
        EXPECT_EQ(model->liveReservationID(), reservationID);
        ASSERT_TRUE(model->audioURL().has_value());
        EXPECT_TRUE(QFile::exists(model->audioURL()->toLocalFile()));
        EXPECT_EQ(model->results(), QList<DerivedSessionResult> {});
        EXPECT_EQ(model->coordinator()->phase(), SessionPhase::recording);
        ASSERT_NO_FATAL_FAILURE(row.unblock());
    }

    // It goes on where it stood, and is saved once it can be.
    const double elapsed = model->elapsed();
    model->togglePause();
    ASSERT_TRUE(model->isRecording());
    ASSERT_TRUE(test::spinUntil([&] { return model->elapsed() >= elapsed + 1; }, 60000));
    model->requestToggleRecording();
    lumora::testing::settle(*model);
    EXPECT_TRUE(processed);
    EXPECT_FALSE(model->isPaused() || model->isRecording() || model->isProcessing());
    ASSERT_EQ(model->results().size(), 1);
    EXPECT_EQ(temporaryEntries(), QStringList());
    ASSERT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
    const auto database = ControlPlaneStore::open(QStringLiteral("sqlite:") + controlPlane->databasePath());
    ASSERT_TRUE(database.has_value());
    EXPECT_EQ(ReservationStore(**database).reservation(reservationID)->status, "finalized");
    controlPlane.reset();
}

// What a Finish that could not write the review said (the disk full, or the review's place taken)
// goes once a later Finish has saved the conversation: the room and History then read only that it
// is ready.
TEST_F(QuietConversationTest, TheAlertOfAnUnsavedFinishGoesOnceTheConversationIsSaved)
{
    ASSERT_TRUE(QDir().mkpath(home.applicationSupport));
    const QByteArray data = QFile::encodeName(home.applicationSupport);
    const bool smallDisk = ::mount("tmpfs", data.constData(), "tmpfs", 0, "size=4m,mode=0700") == 0;
    const auto unmount = qScopeGuard([&] {
        if (smallDisk)
            ::umount2(data.constData(), MNT_DETACH);
    });
    const QString filler = home.applicationSupport + u"/filler"_qs;
    struct Block {
        const char* name;
        std::function<void(const QString& review)> block;
        std::function<void(const QString& review)> unblock;
    };
    QList<Block> blocks { { "a folder in the review's place",
        [](const QString& review) { ASSERT_TRUE(QDir().mkdir(review)); },
        [](const QString& review) { ASSERT_TRUE(QDir().rmdir(review)); } } };
    if (smallDisk)
        blocks.prepend({ "a full disk",
            [&](const QString&) {
                QFile file(filler);
                ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                const QByteArray block(4096, 'x');
                while (file.write(block) == block.size() && file.flush()) { }
            },
            [&](const QString&) { ASSERT_TRUE(QFile::remove(filler)); } });
    for (const Block& row : blocks) {
        SCOPED_TRACE(row.name);
        const auto model = connectedModel();
        ASSERT_NO_FATAL_FAILURE(startRecording(*model));
        ASSERT_TRUE(test::spinUntil([&] { return model->liveTurns().size() >= 2; }, 60000));
        const QString review
            = model->resultStore()->path(model->currentSession()->sessionID.value_or(QUuid()));
        ASSERT_NO_FATAL_FAILURE(row.block(review));
        model->requestToggleRecording();
        lumora::testing::settle(*model);
        ASSERT_TRUE(model->isPaused());
        ASSERT_TRUE(model->errorMessage().has_value());

        ASSERT_NO_FATAL_FAILURE(row.unblock(review));
        model->requestToggleRecording();
        lumora::testing::settle(*model);
        ASSERT_TRUE(QFile::exists(review)) << "the conversation was not saved";
        EXPECT_EQ(model->errorMessage(), std::nullopt);
        EXPECT_EQ(model->statusText(), u"Conversation ready to review"_qs);
    }
}

// The control plane out of reach at the finish: the review made of what was heard live stays as
// the review and says so, the audio goes, and only the reservation's mark is left. Once the
// control plane answers again, the retry after its wait sends the review, which says so to whoever
// reads it from the account too, and the next finish cancels the reservation that was left open.
TEST_F(QuietConversationTest, AFinishWithoutTheControlPlaneKeepsTheLiveReviewUntilItAnswersAgain)
{
    const auto model = connectedModel();
    ASSERT_NO_FATAL_FAILURE(startRecording(*model));
    const QUuid leftOpen = model->liveReservationID().value_or(QUuid());
    ASSERT_TRUE(test::spinUntil([&] { return model->liveTurns().size() >= 2; }, 60000));
    const QString address = u"127.0.0.1:"_qs + QString::number(controlPlane->baseUrl().port());
    const QString database = controlPlane->databasePath();
    ASSERT_EQ(controlPlane->stop(), 0);
    const auto stopped = std::move(controlPlane);

    model->requestToggleRecording();
    lumora::testing::settle(*model);
    EXPECT_EQ(model->statusText(),
        "Conversation ready to review. The final transcript could not be made, so the review uses the live "
        "transcript.");
    ASSERT_EQ(model->results().size(), 1);
    const DerivedSessionResult review = model->results().first();
    EXPECT_GE(review.transcript.value_or(QList<SpeakerTurn> {}).size(), 2);
    EXPECT_TRUE(review.fromLiveTranscript);
    ASSERT_EQ(model->historyEntries().size(), 1);
    EXPECT_EQ(model->historyEntries().first().backup, ConversationBackupDisplayState::waiting);
    EXPECT_EQ(temporaryEntries(), QStringList());
    using Mark = ConversationMarks::Mark;
    EXPECT_EQ(model->marks()->list().value(),
        (QList<Mark> { { review.id, leftOpen, ConversationMarks::State::reservationOpen } }));

    controlPlane = std::make_unique<lumora::testing::ControlPlaneProcess>(
        QStringList { "--dev-sign-in", "--speech-token-secret", speech->secretPath(), "--listen", address,
            "--database", u"sqlite:"_qs + database, "--tls-cert", certificates.serverCertificate(),
            "--tls-key", certificates.serverKey() });
    ASSERT_TRUE(controlPlane->started()) << controlPlane->log().toStdString();
    // The retry waits its minute after the failed upload.
    *clockSkipped = 61;
    test::awaitTask(model->synchronizeHistory(false));
    ASSERT_EQ(model->historyEntries().size(), 1);
    EXPECT_EQ(model->historyEntries().first().backup, ConversationBackupDisplayState::backedUp);
    ConversationHistoryEntry accountCopy = model->historyEntries().first();
    accountCopy.localID.reset();
    const auto fetched = test::awaitTask(model->review(accountCopy));
    ASSERT_TRUE(fetched.has_value());
    EXPECT_EQ(fetched->transcript, review.transcript);
    EXPECT_TRUE(fetched->fromLiveTranscript);

    ASSERT_NO_FATAL_FAILURE(startRecording(*model));
    const QUuid next = model->liveReservationID().value_or(QUuid());
    model->requestToggleRecording();
    lumora::testing::settle(*model);
    EXPECT_EQ(temporaryEntries(), QStringList());
    EXPECT_EQ(model->marks()->list().value(), QList<Mark> {});
    ASSERT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
    const auto store = ControlPlaneStore::open(u"sqlite:"_qs + database);
    ASSERT_TRUE(store.has_value());
    EXPECT_EQ(ReservationStore(**store).reservation(leftOpen)->status, "cancelled");
    EXPECT_EQ(ReservationStore(**store).reservation(next)->status, "finalized");
    controlPlane.reset();
}

// A speech provider whose pre-recorded answers fail five times before they work: the first
// conversation's three attempts all fail, the second's third attempt works.
class UnreliableTranscriptionTest : public QuietConversationTest {
protected:
    QStringList extraSpeechArguments() override { return { "--prerecorded-failures", "5" }; }
};

// A final transcription that fails is tried again with a fresh grant; when it fails every
// time, the review comes from the live turns and the status says so, rather than the
// conversation being lost. Either way the audio goes and the reservation is finalized.
TEST_F(UnreliableTranscriptionTest, AFailedFinalTranscriptionIsTriedAgainAndAtWorstTheLiveTurnsMakeTheReview)
{
    const struct {
        const char* name;
        QString status;
    } rows[] = {
        { "every attempt fails",
            "Conversation ready to review. The final transcript could not be made, so the review uses the "
            "live "
            "transcript." },
        { "the third attempt works", "Conversation ready to review" },
    };
    const auto model = connectedModel();
    QList<QUuid> reservations;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        model->requestToggleRecording();
        ASSERT_TRUE(test::spinUntil([&] { return model->isRecording() || model->errorMessage(); }, 60000));
        ASSERT_TRUE(model->isRecording()) << model->statusText().toStdString();
        reservations.append(model->liveReservationID().value_or(QUuid()));
        ASSERT_TRUE(test::spinUntil([&] { return model->liveTurns().size() == 4; }, 60000));
        const QList<SpeakerTurn> heard = model->liveTurns();
        const qsizetype before = model->results().size();
        model->requestToggleRecording();
        lumora::testing::settle(*model);

        EXPECT_EQ(model->statusText(), row.status);
        EXPECT_FALSE(model->errorMessage().has_value()) << model->errorMessage()->toStdString();
        ASSERT_EQ(model->results().size(), before + 1);
        const DerivedSessionResult& review = model->results().first();
        ASSERT_TRUE(review.transcript.has_value());
        EXPECT_EQ(review.transcript->size(), 4);
        if (row.status != "Conversation ready to review") {
            EXPECT_EQ(review.transcript, heard);
        }
        EXPECT_EQ(temporaryEntries(), QStringList());
    }

    ASSERT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
    const auto database = ControlPlaneStore::open(QStringLiteral("sqlite:") + controlPlane->databasePath());
    ASSERT_TRUE(database.has_value());
    for (const QUuid& id : std::as_const(reservations)) {
        const auto reservation = ReservationStore(**database).reservation(id);
        ASSERT_TRUE(reservation.has_value());
        EXPECT_EQ(reservation->status, "finalized");
    }
    controlPlane.reset();
}

// A speech provider that keeps the stream open after the close message, so that a finish waits
// the whole grace for it.
class SlowCloseConversationTest : public QuietConversationTest {
protected:
    QStringList extraSpeechArguments() override { return { "--stay-open-after-close-stream" }; }
};

// A finish that is still stopping the live stream when the conversation is given up (as a
// sign-out does first) goes on with its own recording address: it never reads the emptied one,
// and it ends with no audio left, the reservation cancelled and the review sealed at the press
// kept.
TEST_F(SlowCloseConversationTest, AFinishThatOutlivesAGiveUpKeepsItsOwnRecordingAddress)
{
    const auto model = connectedModel();
    ASSERT_NO_FATAL_FAILURE(startRecording(*model));
    const QUuid reservationID = model->liveReservationID().value_or(QUuid());
    ASSERT_TRUE(test::spinUntil([&] { return !model->liveTurns().isEmpty(); }, 60000));

    model->requestToggleRecording();
    // The finish has sealed the review and is closing the live stream.
    ASSERT_TRUE(test::spinUntil([&] { return model->isProcessing() && !model->hasLiveSession(); }, 60000));
    test::awaitTask(model->abandonConversation());
    EXPECT_FALSE(model->audioURL().has_value());
    ASSERT_NE(model->statusText(), "Processing privately") << "the finish was already past the live stream";

    lumora::testing::settle(*model);
    EXPECT_EQ(model->statusText(),
        "Your conversation is saved on this computer and ready to review. It reaches your account as soon as "
        "it can.");
    ASSERT_EQ(model->results().size(), 1);
    EXPECT_FALSE(model->results().first().transcript.value_or(QList<SpeakerTurn> {}).isEmpty());
    EXPECT_FALSE(model->isRecording() || model->isPaused() || model->isProcessing());
    EXPECT_EQ(temporaryEntries(), QStringList());

    ASSERT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
    const auto database = ControlPlaneStore::open(QStringLiteral("sqlite:") + controlPlane->databasePath());
    ASSERT_TRUE(database.has_value());
    const auto reservation = ReservationStore(**database).reservation(reservationID);
    ASSERT_TRUE(reservation.has_value());
    EXPECT_EQ(reservation->status, "cancelled");
    controlPlane.reset();
}

// An answer of the analysis service's model, in its messages format.
std::string modelMessage(const QJsonObject& answer)
{
    const QString text = QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact));
    const QJsonObject reply { { "type", "message" }, { "role", "assistant" }, { "model", "model-vm-1" },
        { "content", QJsonArray { QJsonObject { { "type", "text" }, { "text", text } } } },
        { "stop_reason", "end_turn" },
        { "usage", QJsonObject { { "input_tokens", 10 }, { "output_tokens", 5 } } } };
    return QJsonDocument(reply).toJson().toStdString();
}

// What the model finds in each live analysis, in order: the agenda step the room is on when
// the finding arrives, the step found and how sure the model is, and the room's step after.
struct StepFinding {
    int before;
    int index;
    double confidence;
    int after;
};

const StepFinding stepFindings[] = {
    { 0, 2, 0.6, 1 }, // sure enough, and ahead: one step on
    { 1, 3, 0.59, 1 }, // just short of sure enough
    { 1, 4, 0.95, 2 }, // far ahead: still one step only
    { 2, 2, 0.9, 2 }, // the step the room is on
    { 3, 1, 0.9, 3 }, // behind: never back
};

// Conversations whose live analysis and coaching come from the analysis service's model (a
// stand-in over TLS that the control plane trusts), heard as short quiet turns: six turns, and
// so one live analysis, every three seconds. Coaching answers are held back: the first until
// a second request has come, the later ones until the test lets them go.
class GuidedConversationTest : public ViewModelConversationTest {
protected:
    void SetUp() override
    {
        qputenv("SSL_CERT_FILE", certificates.caCertificate().toLocal8Bit());
        ViewModelConversationTest::SetUp();
    }

    void TearDown() override
    {
        ViewModelConversationTest::TearDown();
        qunsetenv("SSL_CERT_FILE");
    }

    test::ScriptedConversation script() override
    {
        return test::quietScript(folder(), 60, 0.3, 0.5, QStringLiteral("Let us go on"));
    }

    QStringList extraControlPlaneArguments() override
    {
        const QString key = QDir(folder()).filePath("model.key");
        QFile file(key);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("model-key-vm\n");
        file.close();
        EXPECT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        return { "--anthropic-api-key-file", key, "--anthropic-url",
            QString::fromStdString(analysisService.url()) };
    }

    StandInReply answer(const StandInRequest& request)
    {
        if (request.body.find("You coach one partner") != std::string::npos) {
            const int n = ++nudgeRequests;
            StandInReply reply { 200,
                modelMessage({ { "title", n == 1 ? "first" : "second" },
                    { "guidance", "Say what you heard." }, { "suggested_words", "What I hear is..." } }) };
            if (n == 1)
                reply.holdWhile = [this] { return nudgeRequests < 2; };
            else
                reply.holdWhile = [this] { return !nudgesReleased; };
            return reply;
        }
        QJsonObject analysis { { "summary", "Done." }, { "annotations", QJsonArray {} } };
        if (request.body.find(R"(\"pass\":\"live\")") != std::string::npos) {
            const int n = liveAnalyses++;
            analysis["summary"] = QStringLiteral("insight %1").arg(n);
            if (n < int(std::size(stepFindings)))
                analysis["step_detected"] = QJsonObject { { "index", stepFindings[n].index },
                    { "confidence", stepFindings[n].confidence } };
        }
        return { 200, modelMessage(analysis) };
    }

    std::atomic<int> nudgeRequests = 0;
    std::atomic<bool> nudgesReleased = false;
    std::atomic<int> liveAnalyses = 0;
    lumora::testing::ProviderStandIn analysisService { certificates.serverCertificate(),
        certificates.serverKey(), [this](const StandInRequest& request) { return answer(request); } };
};

// A found step moves the room's agenda one step on, and only when the model is at least 0.6
// sure and the step lies ahead.
TEST_F(GuidedConversationTest, OnlyASureStepAheadMovesTheAgendaOnByOne)
{
    const auto model = connectedModel();
    ASSERT_NO_FATAL_FAILURE(startRecording(*model));
    for (qsizetype n = 0; n < qsizetype(std::size(stepFindings)); ++n) {
        const StepFinding& row = stepFindings[n];
        SCOPED_TRACE(n);
        model->setSelectedAgendaStep(row.before);
        const QString summary = QStringLiteral("insight %1").arg(n);
        ASSERT_TRUE(test::spinUntil([&] { return model->liveSummary() == summary; }, 60000))
            << model->liveSummary().value_or("none").toStdString();
        EXPECT_EQ(model->selectedAgendaStep(), row.after);
    }
    model->requestToggleRecording();
    lumora::testing::settle(*model);
    EXPECT_FALSE(model->errorMessage().has_value());
}

// A coaching reply that comes back after the room has moved on to a newer request of the same
// side (here in the next conversation) is dropped, and the newer request keeps its loading mark
// until its own reply shows.
TEST_F(GuidedConversationTest, AnOlderCoachingReplyNeverTouchesTheNewerRequest)
{
    const auto model = connectedModel();
    QStringList shown;
    QObject::connect(model.get(), &SessionViewModel::contextualNudgesChanged, [&] {
        for (const ConversationNudge& nudge : model->contextualNudges())
            shown.append(nudge.title);
    });
    const auto startRecording = [&] {
        model->requestToggleRecording();
        ASSERT_TRUE(test::spinUntil([&] { return model->isRecording() || model->errorMessage(); }, 60000));
        ASSERT_TRUE(model->isRecording()) << model->statusText().toStdString();
        ASSERT_TRUE(test::spinUntil([&] { return !model->liveTurns().isEmpty(); }, 60000));
    };

    startRecording();
    model->requestContextualNudgeFor(0);
    ASSERT_TRUE(test::spinUntil([&] { return nudgeRequests == 1; }, 60000));
    model->requestToggleRecording();
    ASSERT_TRUE(
        test::spinUntil([&] { return !model->isProcessing() && model->runningOperations() == 1; }, 60000));
    EXPECT_EQ(model->statusText(), "Conversation ready to review");
    startRecording();

    // Seat 2 is the left side again: the first reply is let go once this request is asked.
    model->requestContextualNudgeFor(2);
    EXPECT_EQ(model->nudgeLoadingSides(), QSet<int> { 0 });
    ASSERT_TRUE(test::spinUntil([&] { return nudgeRequests == 2; }, 60000));
    ASSERT_TRUE(test::spinUntil([&] { return model->runningOperations() == 1; }, 60000))
        << "the first reply did not come back";
    EXPECT_EQ(model->nudgeLoadingSides(), QSet<int> { 0 });
    EXPECT_TRUE(model->contextualNudges().isEmpty());
    EXPECT_TRUE(model->nudgeErrors().isEmpty());

    nudgesReleased = true;
    lumora::testing::settle(*model);
    EXPECT_TRUE(model->nudgeLoadingSides().isEmpty());
    EXPECT_TRUE(model->nudgeErrors().isEmpty());
    EXPECT_EQ(shown, QStringList { "second" });
    model->requestToggleRecording();
    lumora::testing::settle(*model);
}

} // namespace
} // namespace lumora
