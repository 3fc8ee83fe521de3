#include "appcore/SessionCoordinator.hpp"

#include "FakeConversationServices.hpp"
#include "domain/JsonWriting.hpp"
#include "domain/TurnGrouping.hpp"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>
#include <fcntl.h>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {
namespace {

using test::awaitTask;
using test::FakeConversationServices;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

// A failure in words a table can hold: the coordinator's own case, the HTTP status of a
// refused call, or the store that failed.
QString describe(const SessionCoordinatorFailure& failure)
{
    if (const auto* own = std::get_if<SessionCoordinatorError>(&failure))
        return *own == SessionCoordinatorError::invalidState ? u"invalidState"_qs : u"durationCap"_qs;
    if (const auto* provider = std::get_if<ProviderFailure>(&failure)) {
        const auto* controlPlane = provider->as<ControlPlaneFailure>();
        const auto* refusal = controlPlane ? std::get_if<ControlPlaneError>(controlPlane) : nullptr;
        return refusal ? QStringLiteral("status %1").arg(refusal->status().value_or(0)) : u"provider"_qs;
    }
    if (std::holds_alternative<ResultStoreFailure>(failure))
        return u"result store"_qs;
    return u"temporary store"_qs;
}

template <typename T> QString describe(const SessionCoordinator::Result<T>& result)
{
    return result ? u"ok"_qs : describe(result.error());
}

// Makes a folder impossible to remove for this process, and possible again when it goes: a
// file inside made immutable for the superuser, a read-only folder for anyone else.
class UndeletableFolder {
public:
    explicit UndeletableFolder(QString folder)
        : m_file(folder + u"/recording.m4a"_qs)
        , m_folder(std::move(folder))
    {
        QFile file(m_file);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.close();
        if (::geteuid() == 0)
            m_locked = setImmutable(true);
        else
            m_locked = ::chmod(QFile::encodeName(m_folder).constData(), 0500) == 0;
    }
    ~UndeletableFolder() { unlock(); }
    UndeletableFolder(const UndeletableFolder&) = delete;
    UndeletableFolder& operator=(const UndeletableFolder&) = delete;

    [[nodiscard]] bool locked() const { return m_locked; }
    void unlock()
    {
        if (!m_locked)
            return;
        if (::geteuid() == 0)
            setImmutable(false);
        else
            ::chmod(QFile::encodeName(m_folder).constData(), 0700);
        m_locked = false;
    }

private:
    bool setImmutable(bool on) const
    {
        const int descriptor = ::open(QFile::encodeName(m_file).constData(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = done && ::ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(descriptor);
        return done;
    }

    QString m_file;
    QString m_folder;
    bool m_locked = false;
};

// A coordinator over the fake collaborators and a real temporary store in a test folder.
struct Harness {
    Harness()
    {
        coordinator = SessionCoordinator::create(fake, fake, fake, fake, fake, fake,
            TemporaryConversationStore::create(root).value(), ConversationMarks::create(marksFolder).value(),
            std::chrono::milliseconds(1));
    }

    SessionCoordinator::Result<PreparedConversation> prepare(
        double seconds = 3600, ConversationMode mode = ConversationMode::conversation)
    {
        return awaitTask(coordinator->prepare(session, seconds, mode));
    }
    SessionCoordinator::Result<DerivedSessionResult> finish(double seconds = 20)
    {
        return awaitTask(coordinator->finish(audioURL(), u"audio/mp4"_qs, seconds));
    }
    // A finish that waits at its final transcription until `fake->held` is released; its
    // result lands in `finished`.
    QCoro::Task<> finishHeldAtTranscription()
    {
        fake->holdAt = u"transcribe"_qs;
        auto finishing = test::storeResult(coordinator->finish(audioURL(), u"audio/mp4"_qs, 20), &finished);
        EXPECT_TRUE(fake->held.waiting());
        return finishing;
    }

    [[nodiscard]] QString folder() const { return root + u'/' + uuidText(session, UuidCase::lower); }
    [[nodiscard]] QUrl audioURL() const { return QUrl::fromLocalFile(folder() + u"/recording.m4a"_qs); }
    [[nodiscard]] bool folderExists() const { return QFileInfo::exists(folder()); }

    QTemporaryDir temporary;
    QString root = temporary.path() + u"/Lumora-Conversation"_qs;
    QString marksFolder = temporary.path() + u"/Marks"_qs;
    std::shared_ptr<FakeConversationServices> fake = std::make_shared<FakeConversationServices>();
    std::shared_ptr<SessionCoordinator> coordinator;
    QUuid session = QUuid::createUuid();
    std::optional<SessionCoordinator::Result<DerivedSessionResult>> finished;
};

const QStringList preparedCalls { u"reserve 3600"_qs, u"grant r0"_qs };
// The fresh grant is the fourth call: its token differs from the live one ("token-r0-2").
const QStringList finishedCalls { u"grant r0"_qs, u"transcribe recording.m4a audio/mp4 token-r0-3"_qs,
    u"usage r0 finalTranscription nova-3 13s 200"_qs, u"analyze final conversation 2 turns r0"_qs, u"save"_qs,
    u"finalize r0 20"_qs };

QStringList firstOf(const QStringList& calls, qsizetype count)
{
    return calls.first(count);
}

// The calls of final transcriptions tried `attempts` times, each with a fresh grant, all
// refused at the grant or failed at the transcription.
QStringList failedAttempts(int attempts, bool grantRefused)
{
    QStringList calls;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        calls.append(u"grant r0"_qs);
        if (!grantRefused)
            calls.append(
                QStringLiteral("transcribe recording.m4a audio/mp4 token-r0-%1").arg(calls.size() + 2));
    }
    return calls;
}

TEST(SessionCoordinator, EachFailedStepWithoutASealedReviewCancelsTheReservationAndRemovesTheFolder)
{
    struct Row {
        const char* name;
        std::function<void(Harness&)> beforePrepare;
        std::function<void(Harness&)> beforeFinish;
        QStringList calls; // after the calls of a successful prepare, when the prepare passed
        QString error;
        SessionPhase phase;
        bool folderKept = false;
        qsizetype saved = 0;
    };
    const auto none = [](Harness&) {};
    const QStringList cancel { u"cancel r0"_qs };
    const Row rows[] = {
        { "reservation refused: nothing to cancel",
            [](Harness& h) {
                h.fake->failures.insert(u"reserve"_qs, FakeConversationServices::refused(403));
            },
            none, { u"reserve 3600"_qs }, u"status 403"_qs, SessionPhase::idle },
        { "folder cannot be made",
            [](Harness& h) {
                QDir(h.root).removeRecursively();
                QFile file(h.root);
                ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            },
            none, { u"reserve 3600"_qs, u"cancel r0"_qs }, u"temporary store"_qs, SessionPhase::idle },
        { "live credential refused",
            [](Harness& h) { h.fake->failures.insert(u"grant"_qs, FakeConversationServices::refused(403)); },
            none, preparedCalls + cancel, u"status 403"_qs, SessionPhase::idle },
        { "fresh credential refused", none,
            [](Harness& h) { h.fake->failures.insert(u"grant"_qs, FakeConversationServices::refused(409)); },
            failedAttempts(3, true) + cancel, u"status 409"_qs, SessionPhase::failed },
        { "transcription answers 500, no live turn to fall back on", none,
            [](Harness& h) {
                h.fake->failures.insert(u"transcribe"_qs, FakeConversationServices::refused(500));
            },
            failedAttempts(3, false) + cancel, u"status 500"_qs, SessionPhase::failed },
        { "analysis answers 400", none,
            [](Harness& h) {
                h.fake->failures.insert(u"analyze"_qs, FakeConversationServices::refused(400));
            },
            firstOf(finishedCalls, 4) + cancel, u"status 400"_qs, SessionPhase::failed },
        { "save fails", none,
            [](Harness& h) {
                h.fake->saveFailure = ResultStoreFailure(FileSystemError { u"x"_qs, u"full"_qs });
            },
            firstOf(finishedCalls, 5) + cancel, u"result store"_qs, SessionPhase::failed },
        { "finalize refused: the saved review stands and the reservation is cancelled", none,
            [](Harness& h) {
                h.fake->failures.insert(u"finalize"_qs, FakeConversationServices::refused(409));
            },
            finishedCalls + cancel, u"ok"_qs, SessionPhase::complete, false, 1 },
        { "usage report fails: the finish goes on", none,
            [](Harness& h) { h.fake->failures.insert(u"usage"_qs, FakeConversationServices::refused(500)); },
            finishedCalls, u"ok"_qs, SessionPhase::complete, false, 1 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h;
        row.beforePrepare(h);
        const auto prepared = h.prepare();
        QStringList calls = h.fake->calls;
        QString outcome = describe(prepared);
        if (prepared) {
            EXPECT_TRUE(h.folderExists());
            row.beforeFinish(h);
            outcome = describe(h.finish());
            calls = h.fake->calls.mid(preparedCalls.size());
        }
        EXPECT_EQ(calls, row.calls);
        EXPECT_EQ(outcome, row.error);
        EXPECT_EQ(h.coordinator->phase(), row.phase);
        EXPECT_EQ(h.folderExists(), row.folderKept);
        EXPECT_EQ(h.fake->saved.size(), row.saved);
        if (row.phase == SessionPhase::idle) {
            EXPECT_FALSE(h.coordinator->reservation().has_value());
            EXPECT_FALSE(h.coordinator->sessionID().has_value());
            continue;
        }
        if (row.phase != SessionPhase::failed)
            continue;
        // The fields wait for the abandon, which cancels a second time; a reset is refused.
        EXPECT_EQ(
            h.coordinator->resetAfterCompletion(), std::unexpected(SessionCoordinatorError::invalidState));
        EXPECT_TRUE(h.coordinator->reservation().has_value());
        EXPECT_EQ(h.coordinator->sessionID(), h.session);
        test::awaitTask(h.coordinator->abandon());
        EXPECT_EQ(h.fake->calls.mid(preparedCalls.size()), row.calls + cancel);
        EXPECT_EQ(h.coordinator->phase(), SessionPhase::idle);
        EXPECT_FALSE(h.coordinator->reservation().has_value());
    }
}

TEST(SessionCoordinator, AFolderThatCannotBeRemovedAfterTheFinalizeFailsTheFinishAndWaitsForTheAbandon)
{
    Harness h;
    ASSERT_TRUE(h.prepare().has_value());
    UndeletableFolder lock(h.folder());
    if (!lock.locked())
        GTEST_SKIP() << "this file system cannot keep a folder from being removed";

    EXPECT_EQ(describe(h.finish()), u"temporary store"_qs);
    EXPECT_EQ(h.fake->calls.mid(preparedCalls.size()), finishedCalls + QStringList { u"cancel r0"_qs });
    EXPECT_EQ(h.coordinator->phase(), SessionPhase::failed);
    EXPECT_EQ(h.fake->saved.size(), 1);
    EXPECT_TRUE(h.folderExists());
    EXPECT_EQ(h.coordinator->sessionDirectory(), h.folder());

    // An abandon that still cannot remove it keeps it set; the next one removes it.
    test::awaitTask(h.coordinator->abandon());
    EXPECT_EQ(h.coordinator->phase(), SessionPhase::idle);
    EXPECT_EQ(h.coordinator->sessionDirectory(), h.folder());
    lock.unlock();
    test::awaitTask(h.coordinator->abandon());
    EXPECT_FALSE(h.folderExists());
    EXPECT_FALSE(h.coordinator->sessionDirectory().has_value());
    EXPECT_EQ(h.fake->calls.count(u"cancel r0"_qs), 2);
}

TEST(SessionCoordinator, RequestedSecondsMustLieAboveZeroAndNotAbove3600)
{
    const struct {
        double seconds;
        QString outcome;
    } rows[] = {
        { 0, u"durationCap"_qs },
        { -1, u"durationCap"_qs },
        { -infinity, u"durationCap"_qs },
        { nan, u"durationCap"_qs },
        { 3600.001, u"durationCap"_qs },
        { infinity, u"durationCap"_qs },
        { 3600, u"ok"_qs },
        { 0.5, u"ok"_qs },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.seconds);
        Harness h;
        const auto prepared = h.prepare(row.seconds);
        EXPECT_EQ(describe(prepared), row.outcome);
        if (!prepared) {
            EXPECT_TRUE(h.fake->calls.isEmpty());
            EXPECT_EQ(h.coordinator->phase(), SessionPhase::idle);
            EXPECT_FALSE(h.folderExists());
            continue;
        }
        EXPECT_EQ(h.fake->calls.first(), QStringLiteral("reserve %1").arg(row.seconds));
        EXPECT_EQ(h.coordinator->phase(), SessionPhase::recording);
        EXPECT_EQ(prepared->audioURL, h.audioURL());
        EXPECT_EQ(prepared->reservationID, h.fake->reservations.value(0));
        EXPECT_EQ(prepared->liveGrant.accessToken, u"token-r0-2"_qs);
        EXPECT_TRUE(h.folderExists());
        EXPECT_EQ(QFileInfo(h.folder()).permissions() & QFileDevice::ReadOther, 0);
    }
}

TEST(SessionCoordinator, RecordedSecondsAreCappedAtTheGrantOr3600AndFinalizedRoundedUp)
{
    const struct {
        double granted;
        double actual;
        QString outcome;
        qint64 finalized;
    } rows[] = {
        { 7200, 3600, u"ok"_qs, 3600 },
        { 7200, 3600.001, u"durationCap"_qs, 0 },
        { 600, 600, u"ok"_qs, 600 },
        { 600, 600.5, u"durationCap"_qs, 0 },
        { nan, 3600, u"ok"_qs, 3600 },
        { 3600, nan, u"durationCap"_qs, 0 },
        { 3600, infinity, u"durationCap"_qs, 0 },
        { 3600, 0, u"ok"_qs, 0 },
        { 3600, 12.1, u"ok"_qs, 13 },
        // No lower bound, but the control plane is never sent a negative count.
        { 3600, -3, u"ok"_qs, 0 },
        { 3600, -infinity, u"ok"_qs, 0 },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.actual);
        Harness h;
        h.fake->maximumSeconds = row.granted;
        const auto prepared = h.prepare();
        ASSERT_TRUE(prepared.has_value());
        // Handed on exactly as granted; the cap applies only to the finish.
        EXPECT_THAT(prepared->maximumSeconds, testing::NanSensitiveDoubleEq(row.granted));
        const qsizetype before = h.fake->calls.size();
        const auto finished = h.finish(row.actual);
        EXPECT_EQ(describe(finished), row.outcome);
        if (!finished) {
            EXPECT_EQ(h.fake->calls.size(), before);
            EXPECT_EQ(h.coordinator->phase(), SessionPhase::recording);
            EXPECT_TRUE(h.folderExists());
            continue;
        }
        EXPECT_EQ(h.fake->calls.last(), QStringLiteral("finalize r0 %1").arg(row.finalized));
        EXPECT_EQ(h.coordinator->phase(), SessionPhase::complete);
        EXPECT_FALSE(h.folderExists());
    }
}

TEST(SessionCoordinator, TheReviewComesFromTheFinalTranscriptAndTheFinalAnalysis)
{
    Harness h;
    h.fake->analysis.title = u"Dishes"_qs;
    h.fake->analysis.summary = u"A repair after a criticism."_qs;
    h.fake->analysis.annotations = { BehaviorAnnotation { 0, 0, BehaviorCode::criticism, 0.8, 0, 5 } };
    ASSERT_TRUE(h.prepare().has_value());
    // Live turns feed only the room.
    ASSERT_TRUE(h.coordinator->acceptLiveTurn(SpeakerTurn(0, 0, 1, u"live only"_qs)).has_value());
    EXPECT_EQ(h.coordinator->turns().size(), 1);

    const QDateTime before = QDateTime::currentDateTimeUtc();
    const auto result = h.finish(30);
    ASSERT_TRUE(result.has_value()) << describe(result).toStdString();
    EXPECT_EQ(h.fake->calls.mid(preparedCalls.size()),
        firstOf(finishedCalls, 5) + QStringList { u"finalize r0 30"_qs });
    EXPECT_EQ(result->id, h.session);
    EXPECT_EQ(result->title, u"Dishes"_qs);
    EXPECT_GE(result->completedAt, before);
    EXPECT_LE(result->completedAt, QDateTime::currentDateTimeUtc());
    EXPECT_EQ(result->duration, 12.1);
    EXPECT_EQ(result->mode, ConversationMode::conversation);
    EXPECT_EQ(result->stats, TurnGrouping::stats(TurnGrouping::group(h.fake->transcript.turns)));
    EXPECT_EQ(result->annotations, h.fake->analysis.annotations);
    EXPECT_EQ(result->fouls, QList<ProcessFoulAnnotation> {});
    EXPECT_EQ(result->harshStartupDetected, std::nullopt);
    EXPECT_EQ(result->summary, u"A repair after a criticism."_qs);
    EXPECT_EQ(result->transcript, h.fake->transcript.turns);
    ASSERT_EQ(h.fake->saved.size(), 1);
    EXPECT_EQ(h.fake->saved.first(), *result);
    EXPECT_GE(h.fake->latencies.value(0, -1), 0);

    // Complete keeps the conversation's fields until the reset, which removes nothing more.
    EXPECT_EQ(h.coordinator->phase(), SessionPhase::complete);
    EXPECT_EQ(h.coordinator->sessionID(), h.session);
    EXPECT_FALSE(h.coordinator->sessionDirectory().has_value());
    ASSERT_TRUE(h.coordinator->resetAfterCompletion().has_value());
    EXPECT_EQ(h.coordinator->phase(), SessionPhase::idle);
    EXPECT_FALSE(h.coordinator->reservation().has_value());
    EXPECT_TRUE(h.coordinator->turns().isEmpty());
    EXPECT_EQ(h.fake->calls.size(), preparedCalls.size() + finishedCalls.size());
}

// The final transcription is tried three times, each with a fresh grant; when every attempt
// fails, the review comes from the live turns through the same final analysis instead of the
// conversation being lost.
TEST(SessionCoordinator, AFailedFinalTranscriptionIsTriedAgainThenTheLiveTurnsMakeTheReview)
{
    const QList<SpeakerTurn> live { SpeakerTurn(0, 0, 4, u"We keep missing each other."_qs),
        SpeakerTurn(1, 4, 9, u"I know, I feel it too."_qs), SpeakerTurn(0, 9, 15, u"Can we try?"_qs) };
    const QStringList finalized { u"save"_qs, u"finalize r0 20"_qs };
    const struct {
        const char* name;
        QString failing;
        int times;
        QStringList calls;
        bool fromLiveTurns;
    } rows[] = {
        { "the second transcription succeeds", u"transcribe"_qs, 1,
            failedAttempts(1, false)
                + QStringList { u"grant r0"_qs, u"transcribe recording.m4a audio/mp4 token-r0-5"_qs,
                    u"usage r0 finalTranscription nova-3 13s 200"_qs,
                    u"analyze final conversation 2 turns r0"_qs }
                + finalized,
            false },
        { "two grants refused, the third works", u"grant"_qs, 2,
            failedAttempts(2, true)
                + QStringList { u"grant r0"_qs, u"transcribe recording.m4a audio/mp4 token-r0-5"_qs,
                    u"usage r0 finalTranscription nova-3 13s 200"_qs,
                    u"analyze final conversation 2 turns r0"_qs }
                + finalized,
            false },
        { "every transcription fails", u"transcribe"_qs, 3,
            failedAttempts(3, false) + QStringList { u"analyze final conversation 3 turns r0"_qs }
                + finalized,
            true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h;
        ASSERT_TRUE(h.prepare().has_value());
        for (const SpeakerTurn& turn : live)
            ASSERT_TRUE(h.coordinator->acceptLiveTurn(turn).has_value());
        h.fake->failures.insert(row.failing, FakeConversationServices::refused(500));
        h.fake->failuresLeft.insert(row.failing, row.times);

        const auto result = h.finish(20);
        ASSERT_TRUE(result.has_value()) << describe(result).toStdString();
        EXPECT_EQ(h.fake->calls.mid(preparedCalls.size()), row.calls);
        EXPECT_EQ(h.coordinator->phase(), SessionPhase::complete);
        EXPECT_EQ(result->fromLiveTranscript, row.fromLiveTurns);
        EXPECT_EQ(h.fake->saved.last(), *result);
        EXPECT_EQ(result->transcript, row.fromLiveTurns ? live : h.fake->transcript.turns);
        EXPECT_EQ(result->duration, row.fromLiveTurns ? 20 : 12.1);
        EXPECT_EQ(result->stats, TurnGrouping::stats(TurnGrouping::group(*result->transcript)));
        EXPECT_FALSE(h.folderExists());
    }
}

// Sealed at the press, the conversation is never lost to its finish: when the final review
// cannot be had, the review made of what was heard live stays, with the turns that settled after
// the press, and its summary counts them all (the last live batch's counts that batch alone); the
// recording goes, and the reservation is closed, or left marked when the control plane does not
// answer.
TEST(SessionCoordinator, TheReviewSealedAtThePressStaysWhenTheFinalOneCannotBeHad)
{
    AnalysisProviderResult live;
    live.summary = u"0 turns, with 0 warm and 0 hard moments."_qs;
    live.annotations = { BehaviorAnnotation { 0, 0, BehaviorCode::repair, 0.9, 0, 4 } };
    live.harshStartup = HarshStartupEvidence { true, 0.8, u"a sharp start"_qs };
    const SpeakerTurn first(0, 0, 4, u"Can we talk about the weekend?"_qs);
    const SpeakerTurn late(1, 4, 8, u"Yes, let's."_qs);
    const QStringList finalAttempt { u"grant r0"_qs, u"transcribe recording.m4a audio/mp4 token-r0-4"_qs,
        u"usage r0 finalTranscription nova-3 13s 200"_qs, u"analyze final conversation 2 turns r0"_qs };
    const auto unavailable = FakeConversationServices::refused(503);
    const struct {
        const char* name;
        std::function<void(Harness&)> beforeFinish;
        QStringList calls; // after the seal's save
        bool withLateTurn;
        bool markKept;
    } rows[] = {
        { "the final analysis fails",
            [&](Harness& h) { h.fake->failures.insert(u"analyze"_qs, unavailable); },
            finalAttempt + QStringList { u"save"_qs, u"finalize r0 20"_qs }, true, false },
        { "the final review cannot be saved",
            [](Harness& h) {
                h.fake->saveFailure = ResultStoreFailure(FileSystemError { u"x"_qs, u"full"_qs });
            },
            finalAttempt + QStringList { u"save"_qs, u"save"_qs, u"finalize r0 20"_qs }, false, false },
        { "the control plane is out of reach",
            [&](Harness& h) {
                for (const QString& call : { u"grant"_qs, u"analyze"_qs, u"finalize"_qs, u"cancel"_qs })
                    h.fake->failures.insert(call, unavailable);
            },
            failedAttempts(3, true)
                + QStringList { u"analyze final conversation 2 turns r0"_qs, u"save"_qs, u"finalize r0 20"_qs,
                    u"cancel r0"_qs },
            true, true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h;
        ASSERT_TRUE(h.prepare().has_value());
        ASSERT_TRUE(h.coordinator->acceptLiveTurn(first).has_value());
        const auto sealed = awaitTask(h.coordinator->sealProvisional(live, 20));
        ASSERT_TRUE(sealed.has_value()) << describe(sealed).toStdString();
        ASSERT_EQ(h.fake->saved.size(), 1);
        EXPECT_EQ(h.fake->saved.first(), *sealed);
        EXPECT_EQ(sealed->id, h.session);
        EXPECT_EQ(sealed->transcript, QList<SpeakerTurn> { first });
        EXPECT_EQ(sealed->summary, u"1 turns, with 1 warm and 0 hard moments. The opening was harsh."_qs);
        EXPECT_EQ(sealed->annotations, live.annotations);
        EXPECT_EQ(sealed->harshStartupDetected, true);
        EXPECT_EQ(sealed->duration, 20);
        EXPECT_TRUE(sealed->fromLiveTranscript);
        // The live stream closes after the press, and may settle one more turn.
        ASSERT_TRUE(h.coordinator->acceptLiveTurn(late).has_value());
        row.beforeFinish(h);

        const auto result = h.finish(20);
        ASSERT_TRUE(result.has_value()) << describe(result).toStdString();
        EXPECT_EQ(h.fake->calls.mid(preparedCalls.size() + 1), row.calls);
        EXPECT_EQ(h.coordinator->phase(), SessionPhase::complete);
        EXPECT_TRUE(result->fromLiveTranscript);
        EXPECT_EQ(result->id, h.session);
        EXPECT_EQ(result->summary,
            QStringLiteral("%1 turns, with 1 warm and 0 hard moments. The opening was harsh.")
                .arg(row.withLateTurn ? 2 : 1));
        EXPECT_EQ(result->completedAt, sealed->completedAt);
        EXPECT_EQ(
            result->transcript, row.withLateTurn ? (QList<SpeakerTurn> { first, late }) : QList { first });
        EXPECT_EQ(h.fake->saved.last(), *result);
        EXPECT_FALSE(h.folderExists());
        using Mark = ConversationMarks::Mark;
        const QList<Mark> marks = ConversationMarks::create(h.marksFolder).value().list().value();
        if (row.markKept)
            EXPECT_EQ(marks,
                (QList<Mark> { { h.session, h.fake->reservations.value(0),
                    ConversationMarks::State::reservationOpen } }));
        else
            EXPECT_EQ(marks, QList<Mark> {});
    }

    // Sealed once per conversation, and only while it records; the final review, once it is had,
    // takes the sealed one's place and no longer says it was heard live.
    Harness h;
    EXPECT_EQ(describe(awaitTask(h.coordinator->sealProvisional(live, 20))), u"invalidState"_qs);
    ASSERT_TRUE(h.prepare().has_value());
    ASSERT_TRUE(awaitTask(h.coordinator->sealProvisional(live, 20)).has_value());
    EXPECT_EQ(describe(awaitTask(h.coordinator->sealProvisional(live, 20))), u"invalidState"_qs);
    const auto replaced = h.finish(20);
    ASSERT_TRUE(replaced.has_value()) << describe(replaced).toStdString();
    EXPECT_EQ(replaced->transcript, h.fake->transcript.turns);
    EXPECT_FALSE(replaced->fromLiveTranscript);
    ASSERT_EQ(h.fake->saved.size(), 2);
    EXPECT_EQ(h.fake->saved.last(), *replaced);
}

TEST(SessionCoordinator, ACheckinIsAnalysedWithItsRubricAndStoredUnjudged)
{
    Harness h;
    h.fake->analysis.annotations = { BehaviorAnnotation { 0, 0, BehaviorCode::contempt, 0.9, 0, 5 } };
    h.fake->analysis.fouls = QList<ProcessFoulAnnotation> { ProcessFoulAnnotation {
        0, 0, ProcessFoul::globalizing, 0.9, 0, 5 } };
    h.fake->analysis.harshStartup = HarshStartupEvidence { true, 0.9, u"opened hard"_qs };
    ASSERT_TRUE(h.prepare(3600, ConversationMode::checkin).has_value());
    EXPECT_EQ(h.coordinator->mode(), ConversationMode::checkin);
    const auto result = h.finish();
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(h.fake->calls.contains(u"analyze final checkin 2 turns r0"_qs));
    EXPECT_EQ(result->mode, ConversationMode::checkin);
    EXPECT_TRUE(result->annotations.isEmpty());
    EXPECT_EQ(result->fouls, QList<ProcessFoulAnnotation> {});
    EXPECT_EQ(result->harshStartupDetected, std::nullopt);
    EXPECT_EQ(h.coordinator->mode(), ConversationMode::checkin);
    ASSERT_TRUE(h.coordinator->resetAfterCompletion().has_value());
    EXPECT_EQ(h.coordinator->mode(), ConversationMode::conversation);

    // The same findings in a conversation are kept, the harsh start-up flag with them.
    Harness conversation;
    conversation.fake->analysis = h.fake->analysis;
    ASSERT_TRUE(conversation.prepare().has_value());
    const auto judged = conversation.finish();
    ASSERT_TRUE(judged.has_value());
    EXPECT_EQ(judged->fouls, conversation.fake->analysis.fouls);
    EXPECT_EQ(judged->harshStartupDetected, true);
}

TEST(SessionCoordinator, CallsOutOfTurnAreRefusedAndChangeNothing)
{
    Harness h;
    const SpeakerTurn turn(1, 0, 1, u"hello"_qs);
    EXPECT_EQ(h.coordinator->acceptLiveTurn(turn), std::unexpected(SessionCoordinatorError::invalidState));
    EXPECT_EQ(describe(h.finish()), u"invalidState"_qs);
    EXPECT_EQ(h.coordinator->resetAfterCompletion(), std::unexpected(SessionCoordinatorError::invalidState));
    // Nothing reserved: the abandon sends no cancel.
    test::awaitTask(h.coordinator->abandon());
    EXPECT_TRUE(h.fake->calls.isEmpty());

    // While the reservation is on its way: no second prepare, no live turn.
    h.fake->holdAt = u"reserve"_qs;
    std::optional<SessionCoordinator::Result<PreparedConversation>> first;
    auto preparing
        = test::storeResult(h.coordinator->prepare(h.session, 3600, ConversationMode::conversation), &first);
    ASSERT_TRUE(h.fake->held.waiting());
    EXPECT_EQ(h.coordinator->phase(), SessionPhase::authorizing);
    EXPECT_EQ(describe(h.prepare()), u"invalidState"_qs);
    EXPECT_EQ(h.coordinator->acceptLiveTurn(turn), std::unexpected(SessionCoordinatorError::invalidState));
    h.fake->held.release();
    test::awaitTask(std::move(preparing));
    ASSERT_TRUE(first && first->has_value());

    // While recording: a second prepare leaves the running conversation as it was.
    const auto reservation = h.coordinator->reservation();
    EXPECT_EQ(describe(h.prepare()), u"invalidState"_qs);
    EXPECT_EQ(h.coordinator->phase(), SessionPhase::recording);
    EXPECT_EQ(h.coordinator->reservation(), reservation);
    EXPECT_EQ(h.fake->calls, preparedCalls);
    EXPECT_EQ(h.coordinator->resetAfterCompletion(), std::unexpected(SessionCoordinatorError::invalidState));

    // While finishing: no live turn, no second finish.
    h.fake->holdAt = u"transcribe"_qs;
    std::optional<SessionCoordinator::Result<DerivedSessionResult>> finished;
    auto finishing = test::storeResult(h.coordinator->finish(h.audioURL(), u"audio/mp4"_qs, 20), &finished);
    ASSERT_TRUE(h.fake->held.waiting());
    EXPECT_EQ(h.coordinator->phase(), SessionPhase::finalizing);
    EXPECT_EQ(h.coordinator->acceptLiveTurn(turn), std::unexpected(SessionCoordinatorError::invalidState));
    EXPECT_EQ(describe(h.finish()), u"invalidState"_qs);
    h.fake->held.release();
    test::awaitTask(std::move(finishing));
    ASSERT_TRUE(finished && finished->has_value());

    // Complete: an abandon still cancels the reservation it holds.
    test::awaitTask(h.coordinator->abandon());
    EXPECT_EQ(h.fake->calls.last(), u"cancel r0"_qs);
    EXPECT_EQ(h.coordinator->phase(), SessionPhase::idle);
}

TEST(SessionCoordinator, AnAbandonWhileThePrepareWaitsResetsAtOnceAndThePrepareReleasesWhatItGot)
{
    const QStringList cancel { u"cancel r0"_qs };
    const struct {
        const char* waitingFor;
        QStringList callsAfterAbandon;
        QStringList callsAtEnd;
    } rows[] = {
        // Nothing is stored yet, so the prepare itself cancels what arrives.
        { "reserve", { u"reserve 3600"_qs }, { u"reserve 3600"_qs, u"cancel r0"_qs } },
        // The abandon cancels the stored reservation and removes the new folder.
        { "grant", preparedCalls + cancel, preparedCalls + cancel },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.waitingFor);
        Harness h;
        h.fake->holdAt = QString::fromLatin1(row.waitingFor);
        std::optional<SessionCoordinator::Result<PreparedConversation>> prepared;
        auto preparing = test::storeResult(
            h.coordinator->prepare(h.session, 3600, ConversationMode::checkin), &prepared);
        ASSERT_TRUE(h.fake->held.waiting());

        test::awaitTask(h.coordinator->abandon());
        EXPECT_EQ(h.coordinator->phase(), SessionPhase::idle);
        EXPECT_EQ(h.coordinator->mode(), ConversationMode::conversation);
        EXPECT_FALSE(h.folderExists());
        EXPECT_EQ(h.fake->calls, row.callsAfterAbandon);

        // The owner lets go of the coordinator, as at sign-out; the waiting prepare keeps it
        // until it is done.
        const std::weak_ptr<SessionCoordinator> watched = std::exchange(h.coordinator, nullptr);
        h.fake->held.release();
        test::awaitTask(std::move(preparing));
        ASSERT_TRUE(prepared.has_value());
        EXPECT_EQ(describe(*prepared), u"invalidState"_qs);
        EXPECT_EQ(h.fake->calls, row.callsAtEnd);
        EXPECT_FALSE(h.folderExists());
        EXPECT_TRUE(watched.expired());
    }
}

TEST(SessionCoordinator,
    AnAbandonWhileTheFinishWaitsLetsItGoOnWithItsOwnCopiesAndNeverTouchTheNextConversation)
{
    Harness h;
    ASSERT_TRUE(h.prepare().has_value());
    auto finishing = h.finishHeldAtTranscription();
    auto& finished = h.finished;

    // The fields are reset at once: the reservation is cancelled and the folder removed.
    test::awaitTask(h.coordinator->abandon());
    EXPECT_EQ(h.coordinator->phase(), SessionPhase::idle);
    EXPECT_FALSE(h.coordinator->reservation().has_value());
    EXPECT_FALSE(h.coordinator->sessionID().has_value());
    EXPECT_FALSE(h.folderExists());
    EXPECT_EQ(h.fake->calls.last(), u"cancel r0"_qs);

    // A new conversation starts before the old finish resumes.
    const QUuid firstSession = h.session;
    h.session = QUuid::createUuid();
    const auto next = h.prepare();
    ASSERT_TRUE(next.has_value());
    ASSERT_TRUE(h.coordinator->acceptLiveTurn(SpeakerTurn(0, 0, 1, u"next"_qs)).has_value());

    h.fake->held.release();
    test::awaitTask(std::move(finishing));
    ASSERT_TRUE(finished.has_value());
    ASSERT_TRUE(finished->has_value()) << describe(*finished).toStdString();
    EXPECT_EQ((*finished)->id, firstSession);
    // The old finish used its own reservation throughout ...
    const QStringList expected = preparedCalls
        + QStringList { u"grant r0"_qs, u"transcribe recording.m4a audio/mp4 token-r0-3"_qs, u"cancel r0"_qs,
              u"reserve 3600"_qs, u"grant r1"_qs, u"usage r0 finalTranscription nova-3 13s 200"_qs,
              u"analyze final conversation 2 turns r0"_qs, u"save"_qs, u"finalize r0 20"_qs };
    EXPECT_EQ(h.fake->calls, expected);
    // ... and left the next conversation as it was.
    EXPECT_EQ(h.coordinator->phase(), SessionPhase::recording);
    EXPECT_EQ(h.coordinator->sessionID(), h.session);
    EXPECT_EQ(h.coordinator->reservation()->id, next->reservationID);
    EXPECT_EQ(h.coordinator->turns().size(), 1);
    EXPECT_TRUE(h.folderExists());
}

TEST(SessionCoordinator, AFinishOfADeletedAccountSavesNothingAndAsksForNothingMore)
{
    Harness h;
    ASSERT_TRUE(h.prepare().has_value());
    auto finishing = h.finishHeldAtTranscription();
    auto& finished = h.finished;

    // The give-up keeps the finish going (a sign-out); the account's deletion then discards it.
    test::awaitTask(h.coordinator->abandon());
    test::awaitTask(h.coordinator->abandon(SessionCoordinator::FinishUnderWay::discarded));
    h.fake->held.release();
    test::awaitTask(std::move(finishing));
    ASSERT_TRUE(finished.has_value());
    EXPECT_FALSE(finished->has_value());
    EXPECT_FALSE(h.fake->calls.contains(u"save"_qs));
    EXPECT_TRUE(h.fake->calls.filter(QRegularExpression(u"^analyze"_qs)).isEmpty());
    EXPECT_EQ(h.fake->calls.last(), u"cancel r0"_qs);
    EXPECT_FALSE(h.folderExists());

    // The next conversation's finish saves again.
    h.session = QUuid::createUuid();
    ASSERT_TRUE(h.prepare().has_value());
    const auto next = test::awaitTask(h.coordinator->finish(h.audioURL(), u"audio/mp4"_qs, 20));
    ASSERT_TRUE(next.has_value()) << describe(next).toStdString();
    EXPECT_TRUE(h.fake->calls.contains(u"save"_qs));
}

} // namespace
} // namespace lumora
