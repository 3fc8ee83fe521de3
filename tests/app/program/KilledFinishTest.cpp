#include "RecordingProgram.hpp"

#include <QThread>
#include <csignal>

namespace lumora {
namespace {

// The program killed (SIGKILL, as a crash or a forced quit does) at moments after the press of
// Finish. The review sealed at the press is on the computer, alone; the next launch removes the
// audio, sends the review to the account and closes the reservation.
class KilledFinish : public testing::RecordingProgramTest {
protected:
    // The speech stand-in has been told the live stream is over: the finish has begun.
    [[nodiscard]] bool liveStreamClosed() const
    {
        return !speech->frames().filter(u"CloseStream"_qs).isEmpty();
    }

    static void kill(QProcess& program)
    {
        program.kill();
        ASSERT_TRUE(program.waitForFinished(60000));
    }

    // Launches the program again over `home`, waits until its start has settled what the killed
    // one left, quits it, and reads the control plane's database once it has stopped.
    void expectTheNextLaunchToSendTheSealedReview(const QTemporaryDir& home)
    {
        ASSERT_EQ(reviews(home).size(), 1) << "the review was not sealed at the press";
        ASSERT_EQ(reservationStatuses(), QStringList { "open" });
        const auto program = launch(home);
        const bool settled = QTest::qWaitFor(
            [&] {
                return accountConversations().size() == 1 && !reservationStatuses().contains(u"open"_qs)
                    && recordingsIn(home).isEmpty();
            },
            60000);
        ::kill(pid_t(program->processId()), SIGTERM);
        ASSERT_TRUE(program->waitForFinished(60000));
        EXPECT_EQ(program->exitCode(), 0);
        EXPECT_TRUE(settled) << accountConversations().join(' ').toStdString() << " / "
                             << reservationStatuses().join(' ').toStdString() << " / "
                             << recordingsIn(home).join(' ').toStdString();
        EXPECT_EQ(reviews(home).size(), 1);
        EXPECT_EQ(recordingsIn(home), QStringList());
        EXPECT_EQ(controlPlane->stop(), 0) << controlPlane->log().toStdString();
        EXPECT_EQ(accountConversations().size(), 1);
        EXPECT_EQ(reservationStatuses(), QStringList { "cancelled" });
    }
};

TEST_F(KilledFinish, KilledAFewHundredthsOfASecondAfterThePress)
{
    const QTemporaryDir home;
    // The final transcription is held, so that the kill comes before the finish could end
    // however fast the rest of it is.
    const auto program = launchRecording(home, { "--prerecorded-delay-ms", "120000" });
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(recordingStarted(*program, home)) << "the conversation did not start";
    ::kill(pid_t(program->processId()), SIGUSR1);
    // Killed as soon as the review sealed at the press is on disk (a few hundredths of a second).
    QDeadlineTimer deadline(60000);
    while (reviews(home).isEmpty() && !deadline.hasExpired())
        QThread::msleep(1);
    ASSERT_NO_FATAL_FAILURE(kill(*program));
    expectTheNextLaunchToSendTheSealedReview(home);
    speech->kill();
}

TEST_F(KilledFinish, KilledWhileTheFinalTranscriptionHangs)
{
    const QTemporaryDir home;
    const auto program = launchRecording(home, { "--prerecorded-delay-ms", "120000" });
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(recordingStarted(*program, home)) << "the conversation did not start";
    ::kill(pid_t(program->processId()), SIGUSR1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return liveStreamClosed(); }, 60000));
    // The provider holds the final transcription for two minutes; the kill comes inside them.
    QTest::qWait(1000);
    ASSERT_NO_FATAL_FAILURE(kill(*program));
    expectTheNextLaunchToSendTheSealedReview(home);
    // The stand-in's held answer would keep it from stopping for as long.
    speech->kill();
}

TEST_F(KilledFinish, KilledWhileTheControlPlaneIsAway)
{
    const QTemporaryDir home;
    const auto program = launchRecording(home);
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(recordingStarted(*program, home)) << "the conversation did not start";
    ASSERT_EQ(controlPlane->stop(), 0);
    ::kill(pid_t(program->processId()), SIGUSR1);
    // The finish retries the grant of its final transcription meanwhile.
    ASSERT_TRUE(QTest::qWaitFor([&] { return liveStreamClosed(); }, 60000));
    ASSERT_NO_FATAL_FAILURE(kill(*program));

    startControlPlane();
    ASSERT_TRUE(controlPlane->started());
    expectTheNextLaunchToSendTheSealedReview(home);
}

} // namespace
} // namespace lumora
